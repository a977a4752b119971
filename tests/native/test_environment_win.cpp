#include <windows.h>

#include "test_environment.h"

void test_environment::set(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.c_str());
}

void test_environment::remove(const std::string& name) {
  SetEnvironmentVariableA(name.c_str(), nullptr);
}
