#if defined(_WIN32)
#error "platform/posix is the posix backend; CMake picked the wrong folder"
#endif

#include "platform/codepage.h"

namespace platform {

// Byte strings here are UTF-8 or single-byte; no byte opens a two-byte
// character in the sense of a Windows double-byte code page.
bool is_lead_byte(unsigned char) { return false; }

}  // namespace platform
