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
