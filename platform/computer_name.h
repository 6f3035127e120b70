// The local computer's name, as the performance-data service knows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The longest computer name, in bytes (a NetBIOS name).
constexpr size_t kComputerNameMax = 15;

// Copies the computer name (at most kComputerNameMax bytes) into `buffer` of
// `*size` bytes with a terminating zero; on success sets `*size` to its
// length without the zero. When the buffer is too small, fails and sets
// `*size` to the room needed. Windows: GetComputerNameA. Linux:
// computer_name_of(the UTS node name).
bool computer_name(char* buffer, uint32_t* size);

// The host name the computer name is cut from: the UTS node name on Linux,
// the computer name itself on Windows. Empty when the system gives none.
std::string host_name();

// The computer name a host name gives: its first kComputerNameMax bytes.
// computer_name_of("build-worker-0042") = "build-worker-00".
std::string computer_name_of(std::string_view host);

}  // namespace platform
