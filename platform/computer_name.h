// The local computer's name, as the performance-data service knows it.
#pragma once

#include <cstdint>

namespace platform {

// Copies the computer name (at most 15 bytes) into `buffer` of `*size`
// bytes with a terminating zero; on success sets `*size` to its length
// without the zero. When the buffer is too small, fails and sets `*size` to
// the room needed. Windows: GetComputerNameA. Linux: the host name cut to
// 15 bytes, like a NetBIOS name.
bool computer_name(char* buffer, uint32_t* size);

}  // namespace platform
