#if !defined(_WIN32)
#error "platform/win32 is the Windows backend; CMake picked the wrong folder"
#endif

#include "platform/codepage.h"

#include <windows.h>

namespace platform {

bool is_lead_byte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

}  // namespace platform
