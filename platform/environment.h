// Process environment variables.
#pragma once

#include <string>

namespace platform {

// Reads the environment variable `name`. Returns false when it does not
// exist; returns true with `value` set (possibly to the empty text) when it
// does.
bool get_environment(const char* name, std::string& value);

}  // namespace platform
