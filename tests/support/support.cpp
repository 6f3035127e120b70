#include "tests/support/test_support.h"

#include "failure/failure.h"
#include "platform/faults.h"
#include "runtime/console_output.h"

namespace test_support {

Caught run_check_io() {
  Caught caught;
  try {
    check_io();
  } catch (Exception* failure) {
    caught.raised = true;
    caught.kind = failure->kind_name();
    caught.message = failure->message();
    caught.location = failure->location();
    if (auto* io = dynamic_cast<EInOutError*>(failure)) caught.code = io->error_code();
    delete failure;
  }
  return caught;
}

std::string pattern(std::size_t length, unsigned seed) {
  std::string text(length, '\0');
  for (std::size_t i = 0; i < length; ++i)
    text[i] = static_cast<char>((i * 7 + seed * 13 + 1) % 251);
  return text;
}

std::string program_name() {
  char path[261];
  platform::program_path(path, sizeof path);
  std::string text = path;
  std::size_t cut = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (platform::is_path_separator(text[i])) cut = i + 1;
  }
  return text.substr(cut);
}

}  // namespace test_support
