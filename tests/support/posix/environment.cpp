#include <stdlib.h>

#include "tests/support/test_support.h"

namespace test_support {

void set_environment(const char* name, const char* value) {
  if (value == nullptr) {
    ::unsetenv(name);
  } else {
    ::setenv(name, value, 1);
  }
}

}  // namespace test_support
