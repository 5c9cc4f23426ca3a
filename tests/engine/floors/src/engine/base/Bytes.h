// A header of the lowest floor.
#pragma once
