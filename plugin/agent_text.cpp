#include "plugin/agent_text.h"

#include <charconv>
#include <cmath>

namespace plugin {

namespace {
bool control_byte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// A '|' would start the perfdata early; a line end would end the line, a TAB
// would split a listing field.
char line_char(char c) { return c == '|' ? '/' : control_byte(c) ? ' ' : c; }

// In a perfdata label '=' ends the label for every parser; '|' and control
// bytes would end the perfdata or the line.
char label_char(char c) { return c == '=' || c == '|' || control_byte(c) ? '_' : c; }
}  // namespace

std::string plain_number(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  // to_chars never consults the locale: no decimal comma under de_DE.
  char buffer[400];
  auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  if (ec != std::errc()) return "nan";
  std::string text(buffer, end);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  if (text == "-0") text = "0";
  return text;
}

std::string perfdata_label(std::string_view label) {
  std::string text(label);
  for (char& c : text) c = label_char(c);
  return text;
}

std::string perfdata_item(std::string_view label, double value, std::string_view uom,
                          std::string_view warn, std::string_view crit, std::string_view min,
                          std::string_view max) {
  std::string item;
  item.reserve(label.size() + 32);
  item += '\'';
  for (char c : label) {
    if (c == '\'') item += '\'';
    item += label_char(c);
  }
  item += "'=";
  item += plain_number(value);
  item += uom;
  std::string_view fields[] = {warn, crit, min, max};
  size_t used = 4;
  while (used > 0 && fields[used - 1].empty()) --used;
  for (size_t i = 0; i < used; ++i) {
    item += ';';
    item += fields[i];
  }
  return item;
}

std::string line_text(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = line_char(c);
  return out;
}

std::string listing_line(std::initializer_list<std::string_view> fields) {
  std::string line;
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) line += '\t';
    first = false;
    line += line_text(field);
  }
  return line + "\n";
}

std::string status_line(std::string_view service, State state, std::string_view summary,
                        const std::vector<std::string>& perfdata) {
  std::string line(service);
  line += ' ';
  line += state_word(state);
  line += " - ";
  line += line_text(summary);
  for (size_t i = 0; i < perfdata.size(); ++i) {
    line += i == 0 ? " | " : " ";
    line += perfdata[i];
  }
  return line;
}

std::size_t status_line_into(std::string_view service, State state, std::string_view summary,
                             char* buffer, std::size_t capacity) {
  std::size_t length = 0;
  auto put = [&](std::string_view text) {
    for (char c : text)
      if (length + 1 < capacity) buffer[length++] = c;
  };
  put(service);
  put(" ");
  put(state_word(state));
  put(" - ");
  while (!summary.empty() && (summary.back() == '\r' || summary.back() == '\n'))
    summary.remove_suffix(1);
  for (std::size_t i = 0; i < summary.size(); ++i) {
    if (summary[i] == '\r' && i + 1 < summary.size() && summary[i + 1] == '\n') continue;
    const char c = line_char(summary[i]);
    put(std::string_view(&c, 1));
  }
  if (length < capacity) buffer[length++] = '\n';
  return length;
}

}  // namespace plugin
