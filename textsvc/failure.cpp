#include "textsvc/failure.h"

#include "textsvc/format.h"

void raise_failure(Exception* failure, const void* location) {
  failure->set_location(location);
  throw failure;
}

__attribute__((noinline)) void raise_convert_error(const char* message_template,
                                                   std::string_view text) {
  std::string message = format_value(message_template, {FormatArg::text(text)});
raise_point:
  raise_failure(new EConvertError(std::move(message)), &&raise_point);
}

__attribute__((noinline)) void raise_assertion_failed(std::string_view message,
                                                      std::string_view file, int32_t line) {
  std::string text = format_value(
      "%s (%s, line %d)",
      {FormatArg::text(message.empty() ? std::string_view("Assertion failed") : message),
       FormatArg::text(file), FormatArg::integer(line)});
raise_point:
  raise_failure(new EAssertionFailed(std::move(text)), &&raise_point);
}

__attribute__((noinline)) void raise_abstract_error() {
raise_point:
  raise_failure(new EAbstractError("Abstract Error"), &&raise_point);
}

void release_failure(Exception* failure) {
  if (auto* heap = dynamic_cast<EHeapException*>(failure);
      heap != nullptr && !heap->allow_release())
    return;
  delete failure;
}
