// The programs name files with backslashes; the POSIX backend maps them to
// slashes at the seam, so portable code keeps the system's own names.
#pragma once

#include <string>

std::string posix_path(const std::string& path);
