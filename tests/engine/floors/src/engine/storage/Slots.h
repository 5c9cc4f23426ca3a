// A storage header that reaches up into the cursor: the one include the
// check must refuse. The others (a floor below, a system header, a file that
// is not under the tree) are allowed.
#pragma once

#include <vector>

#include "engine/base/Bytes.h"
#include "engine/cursor/Walk.h"
#include "generated/Version.h"
