// The system's ANSI code page, as far as text handling needs to know it.
#pragma once

namespace platform {

// True when `byte` opens a two-byte character in the ANSI code page.
// Always false on systems whose texts have no two-byte characters.
bool is_lead_byte(unsigned char byte);

}  // namespace platform
