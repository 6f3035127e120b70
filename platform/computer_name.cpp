#include "platform/computer_name.h"

namespace platform {

std::string computer_name_of(std::string_view host) {
  return std::string(host.substr(0, kComputerNameMax));
}

}  // namespace platform
