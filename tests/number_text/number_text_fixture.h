// What the number text tests share: the mode letters, the fixture that
// starts every test from "." / "," and the currency text "Cr", a table
// check of render_float, and the check of a raised conversion failure.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "failure/failure.h"
#include "number_text/number_settings.h"
#include "number_text/render.h"

// In a named namespace: one test program may hold several of these files
// (the software-format build), and the fixture must be one type there.
namespace number_text_test {

inline constexpr FloatMode G = FloatMode::general;
inline constexpr FloatMode X = FloatMode::exponent;
inline constexpr FloatMode F = FloatMode::fixed;
inline constexpr FloatMode N = FloatMode::number;
inline constexpr FloatMode C = FloatMode::currency;

inline const long double kInf = std::numeric_limits<long double>::infinity();
inline const long double kNaN = std::numeric_limits<long double>::quiet_NaN();

// Every test starts from "." / "," and the currency text "Cr".
class NumberText : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = number_settings;
    number_settings.decimal_separator = '.';
    number_settings.thousand_separator = ',';
    number_settings.currency_text = "Cr";
    number_settings.currency_format = 0;
    number_settings.negative_currency_format = 0;
  }
  void TearDown() override { number_settings = saved_; }

 private:
  NumberSettings saved_;
};

struct RenderRow {
  int line;
  long double value;
  FloatMode mode;
  int precision;
  int digits;
  const char* expected;
};

inline void check_render(const std::vector<RenderRow>& rows) {
  for (const RenderRow& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(render_float(row.value, row.mode, row.precision, row.digits), row.expected);
    char out[kRenderFloatCapacity];
    std::size_t n = render_float_into(out, row.value, row.mode, row.precision, row.digits);
    EXPECT_EQ(std::string(out, n), row.expected);
  }
}

// The caught failure, checked and freed.
inline void expect_convert_error(const std::function<void()>& action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no failure raised";
  } catch (Exception* failure) {
    EXPECT_STREQ(failure->kind_name(), "EConvertError");
    EXPECT_EQ(failure->message(), message);
    EXPECT_NE(failure->location(), nullptr);
    delete failure;
  }
}

}  // namespace number_text_test

using namespace number_text_test;
