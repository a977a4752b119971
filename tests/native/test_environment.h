// The test process's own environment variables, set and removed the
// platform's way (the services read them through the platform too).
#pragma once

#include <string>

namespace test_environment {

void set(const std::string& name, const std::string& value);
void remove(const std::string& name);

}  // namespace test_environment
