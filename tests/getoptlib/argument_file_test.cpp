#include "getoptlib/argument_file.h"

#include <gtest/gtest.h>

#include <map>

namespace {

std::string joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += "<" + w + ">";
  return out;
}

TEST(ArgumentFile, Parse) {
  struct Row {
    int line;
    std::string_view text;
    const char* words;  // each word in <>; nullptr: fails with `why`
    const char* why;
  };
  const Row rows[] = {
      {__LINE__, "", "", ""},
      {__LINE__, " -p A\r\n\n\t-w  80 ", "<-p><A><-w><80>", ""},
      {__LINE__, "'\\Process(a b)\\% Processor Time'", "<\\Process(a b)\\% Processor Time>", ""},
      {__LINE__, "'a'\"b\"c '' \"\"", "<abc><><>", ""},
      {__LINE__, "\"\\\" \\\\ \\$ \\` \\a \\\nx\"", "<\" \\ $ ` \\a x>", ""},
      {__LINE__, "a\\ b \\'c \\\nd e\\\nf", "<a b><'c><d><ef>", ""},
      {__LINE__, "# all\n-p x#y # rest\n  #x\nz", "<-p><x#y><z>", ""},
      {__LINE__, "'@x' \\@y a@b", "<@x><@y><a@b>", ""},
      {__LINE__, "$HOME `id` * ~", "<$HOME><`id`><*><~>", ""},
      {__LINE__, "a\n'b\nc", nullptr, "line 2: unterminated single quote"},
      {__LINE__, "\"\n\nb", nullptr, "line 1: unterminated double quote"},
      {__LINE__, "'a\nb' \"c\nd\"\n@f", nullptr,
       "line 4: an argument file cannot name another (quote '@' to pass it)"},
      {__LINE__, "a \\", nullptr, "line 1: backslash at the end of the file"},
      {__LINE__, std::string_view("a\nb\n\0c", 6), nullptr, "line 3: NUL byte"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    std::vector<std::string> words = {"keep"};
    std::string why;
    EXPECT_EQ(getoptlib::parse_argument_file(row.text, &words, &why), row.words != nullptr);
    words.erase(words.begin());
    EXPECT_EQ(joined(words), row.words ? row.words : "");
    EXPECT_EQ(why, row.why);
  }
}

TEST(ArgumentFile, Expand) {
  const std::map<std::string, std::string> files = {
      {"paths", "-p A\n-p 'B C'"}, {"bad", "'x"}, {"nested", "@paths"}};
  std::map<std::string, int> reads;
  const getoptlib::ReadFileFn read = [&](const std::string& path, size_t limit, std::string* text,
                                         std::string* why) {
    EXPECT_EQ(limit, getoptlib::kMaxArgumentFileBytes);
    ++reads[path];
    const auto f = files.find(path);
    if (f == files.end()) return *why = "No such file or directory", false;
    return *text = f->second, true;
  };
  struct Row {
    int line;
    std::vector<std::string> args;
    const char *result, *why;
  };
  const Row rows[] = {
      {__LINE__,
       {"@paths", "@", "-t", "@paths", "--", "@paths"},
       "<@paths><@><-t><-p><A><-p><B C><--><@paths>",
       ""},
      {__LINE__, {"prog", "@gone"}, nullptr, "@gone: No such file or directory"},
      {__LINE__, {"prog", "@bad"}, nullptr, "@bad: line 1: unterminated single quote"},
      {__LINE__,
       {"prog", "@nested"},
       nullptr,
       "@nested: line 1: an argument file cannot name another (quote '@' to pass it)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    std::vector<std::string> args = row.args;
    std::string why;
    reads.clear();
    EXPECT_EQ(getoptlib::expand_argument_files(&args, read, &why), row.result != nullptr);
    EXPECT_EQ(joined(args), row.result ? row.result : joined(row.args));
    EXPECT_EQ(why, row.why);
    for (const auto& [path, count] : reads) EXPECT_EQ(count, 1) << path;
  }
}

// With the program's options, an "@" that the scan reads as an option's
// argument stays, a file's last word included.
TEST(ArgumentFile, OptionArgumentsAreNoFiles) {
  const getoptlib::option longs[] = {{"critical", 1, nullptr, 'c'}, {"crypt", 1, nullptr, 'y'}};
  const getoptlib::ReadFileFn read = [](const std::string& path, size_t, std::string* text,
                                        std::string*) {
    return *text = path == "l" ? "-v -c" : "-p", true;
  };
  std::vector<std::string> args = {"prog", "-vc", "@x", "--crit",        "@y", "--cr", "@f", "@a",
                                   "-c5",  "@l",  "@z", "--critical=@1", "@f"};
  std::string why;
  ASSERT_TRUE(getoptlib::expand_argument_files(&args, read, &why, {"-:c:p:v", longs}));
  EXPECT_EQ(joined(args),
            "<prog><-vc><@x><--crit><@y><--cr><-p><@a><-c5><-v><-c><@z><--critical=@1><-p>");
}

}  // namespace
