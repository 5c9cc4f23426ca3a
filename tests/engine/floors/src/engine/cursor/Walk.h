// A cursor header on storage: a floor below, allowed.
#pragma once

#include "engine/storage/Slots.h"
