// Splits a random command line into all its arguments, walking it with the
// platform's stepper or with a double-byte stepper that steps two bytes after
// a lead byte blindly. The line sits in a heap block of exactly its length
// plus the NUL, so any read past the NUL is an address-sanitizer finding.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "getoptlib/getoptlib.h"

namespace {

const char* double_byte_next(const char* p) {
  if (*p == '\0') return p;
  auto byte = static_cast<unsigned char>(*p);
  return p + ((byte >= 0x81 && byte <= 0x9f) || (byte >= 0xe0 && byte <= 0xfc) ? 2 : 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool double_byte = data[0] & 1;
  ++data;
  --size;
  size_t length = strnlen(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<char[]> line(new char[length + 1]);
  memcpy(line.get(), data, length);
  line[length] = '\0';
  const char* (*next)(const char*) = double_byte ? double_byte_next : platform::char_next;

  const char* position = line.get();
  for (size_t calls = 0;; ++calls) {
    if (calls > length + 1) abort();  // every non-empty argument uses a byte
    const char* before = position;
    std::string argument = getoptlib::split_next_argument(position, next);
    if (position < before || position > line.get() + length) abort();
    if (argument.size() > static_cast<size_t>(position - before)) abort();
    if (!double_byte && argument.find('"') != std::string::npos) abort();
    if (argument.empty()) break;
    if (position == before) abort();  // an argument was taken: the walk moved
  }
  // The whole-line split agrees with the step-by-step walk's count.
  std::vector<std::string> texts = getoptlib::split_command_line(line.get(), next);
  for (const std::string& text : texts) {
    if (text.empty()) abort();
  }
  return 0;
}
