// Process environment variables.
#pragma once

#include <string>

namespace platform {

// Reads the environment variable `name`. Returns false when it does not
// exist; returns true with `value` set (possibly to the empty text) when it
// does.
bool get_environment(const char* name, std::string& value);

// Sets `name` to `value`, or removes it when `value` is null. Tests use it
// to choose the environment a scan starts in.
void set_environment(const char* name, const char* value);

}  // namespace platform
