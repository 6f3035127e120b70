// The number text on every platform against one table of expected lines
// (cross_cases.tsv, written once on x86-64 with --write): rendering in all
// modes, parsing back, format directives and parsing of long decimal texts.
// Each line holds its inputs and the expected output, tab-separated:
//   R <double bits> <mode> <precision> <digits> <text> <parsed back>
//   F <double bits> <format> <expansion>
//   P <text> <parsed>
// A parsed value is the extended format's bits ("sign_exponent:significand"
// in hexadecimal) or "error". Exits 1 and names every line that differs.
//
//   cross_cases tests/e2e/cross_cases.tsv
//   cross_cases --write tests/e2e/cross_cases.tsv
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "failure/failure.h"
#include "float80/float80.h"
#include "number_text/format.h"
#include "number_text/number_settings.h"
#include "number_text/parse.h"
#include "number_text/render.h"

namespace {

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(
        line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

double from_bits(const std::string& hex) {
  const uint64_t bits = std::strtoull(hex.c_str(), nullptr, 16);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::string hex64(uint64_t v) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIX64, v);
  return text;
}

std::string parsed(const std::string& text) {
  try {
    const Float80Bits bits = float80_bits(parse_float(text));
    char out[32];
    std::snprintf(out, sizeof out, "%04X:%016" PRIX64, bits.sign_exponent, bits.significand);
    return out;
  } catch (Exception* failure) {
    delete failure;
    return "error";
  }
}

std::string formatted(const std::string& format, double value) {
  try {
    return format_value(format, {FormatArg::floating(value)});
  } catch (Exception* failure) {
    const std::string message = failure->message();
    delete failure;
    return "error: " + message;
  }
}

// The line for the inputs of `fields` (the expected output left off).
std::string evaluate(const std::vector<std::string>& fields) {
  const std::string& kind = fields[0];
  if (kind == "R" && fields.size() >= 5) {
    const std::string text =
        render_float(from_bits(fields[1]), static_cast<FloatMode>(std::stoi(fields[2])),
                     std::stoi(fields[3]), std::stoi(fields[4]));
    return fields[0] + "\t" + fields[1] + "\t" + fields[2] + "\t" + fields[3] + "\t" + fields[4] +
           "\t" + text + "\t" + parsed(text);
  }
  if (kind == "F" && fields.size() >= 3) {
    return "F\t" + fields[1] + "\t" + fields[2] + "\t" + formatted(fields[2], from_bits(fields[1]));
  }
  if (kind == "P" && fields.size() >= 2) return "P\t" + fields[1] + "\t" + parsed(fields[1]);
  return "unreadable line";
}

// Deterministic inputs: the generator's raw output only (the standard
// distributions differ between libraries).
class Inputs {
 public:
  uint64_t next() { return rng_(); }
  uint64_t below(uint64_t n) { return rng_() % n; }

  uint64_t value_bits() {
    double v;
    switch (below(8)) {
      case 0: {  // a few decimals, often on a rounding tie
        const double scale[] = {1, 10, 100, 1000, 100000, 1e9};
        v = static_cast<double>(below(2000000) - 1000000) / scale[below(6)];
        break;
      }
      case 1:
        v = static_cast<double>(below(1000)) + 0.5 + (below(2) ? 0.005 : 0.0);
        break;
      case 2: {  // around the fixed layouts' limits
        const double edges[] = {1e15, 1e17, 1e18, 999999999999999.9, 123456789012345.67};
        v = edges[below(5)] * (1 + static_cast<double>(below(21) - 10) * 1e-16);
        break;
      }
      case 3: {  // special values
        const uint64_t specials[] = {0,
                                     0x8000000000000000ull,
                                     0x7FF0000000000000ull,
                                     0xFFF0000000000000ull,
                                     0x7FF8000000000000ull,
                                     1,
                                     0x7FEFFFFFFFFFFFFFull,
                                     0x0010000000000000ull};
        return specials[below(8)];
      }
      default: {  // any finite double, any magnitude
        const uint64_t bits = next();
        return (bits >> 52 & 0x7FF) == 0x7FF ? bits ^ 0x4000000000000000ull : bits;
      }
    }
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
  }

  std::string format() {
    static const char kLetters[] = "gefnmGEFNM";
    std::string f = below(3) == 0 ? "v=" : "";
    f += '%';
    if (below(4) == 0) f += '-';
    if (below(2) == 0) f += std::to_string(below(30));
    if (below(3) != 0) f += "." + std::to_string(below(22));
    f += kLetters[below(10)];
    if (below(4) == 0) f += " %%";
    return f;
  }

  std::string decimal_text() {
    std::string t;
    if (below(3) == 0) t += below(2) ? '-' : '+';
    const std::size_t digits = 1 + below(below(4) == 0 ? 40 : 20);
    const std::size_t point = below(digits + 1);
    for (std::size_t i = 0; i < digits; ++i) {
      if (i == point && below(2)) t += '.';
      t += static_cast<char>('0' + below(10));
    }
    if (below(2)) t += "E" + std::to_string(static_cast<int>(below(9900)) - 4950);
    return t;
  }

 private:
  std::mt19937_64 rng_{20261208};
};

int write_cases(const char* path) {
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return 2;
  Inputs in;
  auto put = [out](const std::string& line) { std::fprintf(out, "%s\n", line.c_str()); };
  for (int i = 0; i < 2500; ++i) {
    put(evaluate({"R", hex64(in.value_bits()), std::to_string(in.below(5)),
                  std::to_string(in.below(21)), std::to_string(in.below(21))}));
  }
  for (int i = 0; i < 800; ++i) put(evaluate({"F", hex64(in.value_bits()), in.format()}));
  for (int i = 0; i < 2000; ++i) put(evaluate({"P", in.decimal_text()}));
  return std::fclose(out) == 0 ? 0 : 2;
}

int check_cases(const char* path) {
  std::FILE* in = std::fopen(path, "rb");
  if (in == nullptr) {
    std::printf("cannot open %s\n", path);
    return 2;
  }
  int line_number = 0;
  int differences = 0;
  std::string line;
  for (int c; (c = std::fgetc(in)) != EOF;) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    ++line_number;
    const std::string got = evaluate(split(line));
    if (got != line && ++differences <= 20) {
      std::printf("line %d\n  expected %s\n  got      %s\n", line_number, line.c_str(),
                  got.c_str());
    }
    line.clear();
  }
  std::fclose(in);
  std::printf("cross cases: %d lines, %d differ\n", line_number, differences);
  return differences == 0 && line_number > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Fixed separators: the cases are about the arithmetic, not the locale.
  number_settings.decimal_separator = '.';
  number_settings.thousand_separator = ',';
  number_settings.currency_text = "Cr";
  number_settings.currency_decimals = 2;
  if (argc == 3 && std::strcmp(argv[1], "--write") == 0) return write_cases(argv[2]);
  if (argc == 2) return check_cases(argv[1]);
  std::printf("usage: cross_cases [--write] FILE\n");
  return 2;
}
