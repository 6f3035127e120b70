#include "failure/failure.h"

void raise_failure(Exception* failure, const void* location) {
  failure->set_location(location);
  throw failure;
}

// The templates hold one "%s" and nothing else for the format engine, so a
// plain substitution gives what expanding them would, without the family
// depending on the number text above it.
__attribute__((noinline)) void raise_convert_error(const char* message_template,
                                                   std::string_view text) {
  std::string_view shape(message_template);
  std::size_t at = shape.find("%s");
  std::string message(shape.substr(0, at));
  if (at != std::string_view::npos) {
    message += text;
    message += shape.substr(at + 2);
  }
raise_point:
  raise_failure(new EConvertError(std::move(message)), &&raise_point);
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
