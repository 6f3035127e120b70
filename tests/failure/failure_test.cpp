#include "failure/failure.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace {

std::unique_ptr<Exception> catch_failure(const std::function<void()>& body) {
  try {
    body();
  } catch (Exception* failure) {
    return std::unique_ptr<Exception>(failure);
  }
  return nullptr;
}

TEST(FailureFamily, ConvertErrorPutsTheTextInAsItIs) {
  struct Row {
    int line;
    const char* message_template;
    std::string text;
    std::string message;
  };
  const Row rows[] = {
      {__LINE__, "'%s' is not a valid integer value", "abc", "'abc' is not a valid integer value"},
      {__LINE__, "'%s' is not a valid integer value", "", "'' is not a valid integer value"},
      // The text is not a template itself.
      {__LINE__, "No argument for format '%s'", "%d%s%%", "No argument for format '%d%s%%'"},
      {__LINE__, "'%s'", std::string("a\0b", 3), std::string("'a\0b'", 5)},
      {__LINE__, "no directive", "abc", "no directive"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    auto failure = catch_failure([&] { raise_convert_error(row.message_template, row.text); });
    ASSERT_NE(failure, nullptr);
    EXPECT_STREQ(failure->kind_name(), "EConvertError");
    EXPECT_EQ(failure->message(), row.message);
  }
}

TEST(FailureFamily, ConversionErrorsShareOneLocation) {
  auto first = catch_failure([] { raise_convert_error("'%s'", "a"); });
  auto second = catch_failure([] { raise_convert_error("other '%s'", "b"); });
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first->location(), nullptr);
  EXPECT_EQ(first->location(), second->location());
}

TEST(FailureFamily, AbstractErrorMessage) {
  auto abstract = catch_failure([] { raise_abstract_error(); });
  ASSERT_NE(abstract, nullptr);
  EXPECT_STREQ(abstract->kind_name(), "EAbstractError");
  EXPECT_EQ(abstract->message(), "Abstract Error");
  EXPECT_NE(abstract->location(), nullptr);
}

// A memory failure whose release flag is cleared survives release_failure
// (the leak and address checkers of the sanitizer build see any mistake).
TEST(FailureFamily, ReleaseKeepsAMemoryFailureThatRefusesIt) {
  auto* prepared = new EOutOfMemory("Out of memory");
  prepared->set_allow_release(false);
  release_failure(prepared);
  EXPECT_EQ(prepared->message(), "Out of memory");
  prepared->set_allow_release(true);
  release_failure(prepared);
}

}  // namespace
