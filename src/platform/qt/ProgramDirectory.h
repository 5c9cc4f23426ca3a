// Where the program lives, and finding files there the way the program's
// table files are found: without regard to letter case.
#pragma once

#include <string>

namespace marrowick::platform {

// The directory of the running executable (/proc/self/exe) with its trailing
// '/'. Empty when the link cannot be read.
std::string ProgramDirectory();

// The directory part of path, including its trailing '/'; empty when path
// holds no '/'.
std::string ExtractFilePath(const std::string& path);

// True when path names an existing file, or when its directory holds an
// entry whose name equals the path's file name ignoring ASCII case.
bool FileExistsIgnoringCase(const std::string& path);

}  // namespace marrowick::platform
