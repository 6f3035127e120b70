#include <windows.h>

#include "tests/support/test_support.h"

namespace test_support {

// The program reads its environment with GetEnvironmentVariableA, so the
// process block is what a test must change (not the C library's copy).
void set_environment(const char* name, const char* value) { SetEnvironmentVariableA(name, value); }

}  // namespace test_support
