#include <stdlib.h>

#include "test_environment.h"

void test_environment::set(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

void test_environment::remove(const std::string& name) { unsetenv(name.c_str()); }
