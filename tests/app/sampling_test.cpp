// check_vantric's sampling over the counter table: rounds and -n averaging,
// arrays whose instances come, end and fail between rounds, missing
// instances and the --missing state, and the route without arrays.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/check_vantric/sampling.h"
#include "platform/state_file.h"
#include "tests/support/test_support.h"

namespace {

// Rounds read at collections 2 and 3 (-n 2): a 10 then 30, b always 5, c
// ends after round 1, d fails in round 2, e starts in round 2.
const char kTable[] =
    "\\J(a)\\Load\t0\t0\t10\tgauge\t\t\t1-2\n\\J(a)\\Load\t0\t0\t30\tgauge\t\t\t3-\n"
    "\\J(b)\\Load\t0\t0\t5\tgauge\n\\J(c)\\Load\t0\t0\t7\tgauge\t\t\t1-2\n"
    "\\J(d)\\Load\t0\t0\t1\tgauge\t\t\t1-2\n\\J(d)\\Load\t0\t0xC0000BBA\t1\tgauge\t\t\t3-\n"
    "\\J(e)\\Load\t0\t0\t4\tgauge\t\t\t3-\n\\J(zz)\\Load\t0x800007D1\t0\t0\n"
    // Raw series, one second a collection: K(a) idle 40% (busy 60%), processes busy 20%.
    "\\K(a)\\Busy\t0\t0\t0\tpercent\t%"
    "\t\t\t0x21510500\t10000000\t100000000\t4000000\t100000000\t10000000\n"
    "\\Process(a)\\Cpu\t0\t0\t0\tpercent\t%"
    "\t\t\t0x20510500\t10000000\t100000000\t2000000\t100000000\t10000000\n"
    "\\Process(b)\\Cpu\t0\t0\t0\tpercent\t%"
    "\t\t\t0x20510500\t10000000\t100000000\t2000000\t100000000\t10000000\n"
    "\\Process(a)\\ID Process\t0\t0\t0\tgauge\t\t\t\t0x10100\t0\t42\t0\t0\t0\n"
    "\\Process(b)\\ID Process\t0\t0\t0\tgauge\t\t\t\t0x10100\t0\t43\t0\t0\t0\n"
    "\\Process(a)\\Elapsed Time\t0\t0\t0\telapsed\t\t\t\t0x30240500\t10000000\t555\t0\t0\t0\n"
    "\\Process(b)\\Elapsed Time\t0\t0\t0\telapsed\t\t\t\t0x30240500\t10000000\t556\t0\t0\t0\n";

void use_table() {
  static const bool table = [] {
    FILE* f = std::fopen("sampling_test_counters.txt", "wb");
    std::fputs(kTable, f);
    std::fclose(f);
    test_support::set_environment("VANTRIC_SIM_COUNTERS", "sampling_test_counters.txt");
    return true;
  }();
  (void)table;
}

// Each counter as the summary shows it, its state and its path's index;
// then the unmatched paths.
std::string sampled(std::vector<std::string> paths, uint32_t samples) {
  use_table();
  check_vantric::Request r;
  r.paths = std::move(paths);
  r.samples = samples;
  r.missing = plugin::State::warning;
  const plugin::CheckResult result = check_vantric::check_counters(r);
  std::string s = result.problem;
  for (const plugin::CounterResult& c : result.counters)
    s += plugin::counter_text(c) + " " + state_word(c.state) + " @" + std::to_string(c.source) +
         "; ";
  for (const std::string& p : result.unmatched) s += "unmatched " + p + "; ";
  return s;
}

TEST(Sampling, RoundsArraysAndMissingInstances) {
  EXPECT_EQ(sampled({"\\J(a)\\Load"}, 1), "\\J(a)\\Load = 10 OK @0; ");
  EXPECT_EQ(sampled({"\\J(a)\\Load", "\\J(b)\\Load"}, 2),
            "\\J(a)\\Load = 20 OK @0; \\J(b)\\Load = 5 OK @1; ");
  // An instance is averaged over the rounds it was in; its first failure stays.
  EXPECT_EQ(sampled({"\\J(*)\\Load"}, 2),
            "\\J(a)\\Load = 20 OK @0; \\J(b)\\Load = 5 OK @0; \\J(c)\\Load = 7 OK @0; "
            "\\J(d)\\Load: data not valid yet UNKNOWN @0; \\J(e)\\Load = 4 OK @0; ");
  EXPECT_EQ(sampled({"\\J(zz)\\Load", "\\J(q*)\\Load"}, 1),
            "\\J(zz)\\Load: no such instance WARNING @0; unmatched \\J(q*)\\Load; ");
  // Without arrays each match is a counter of its own: one that ended or
  // failed before its reading is left out while others of its path were read.
  test_support::set_environment("VANTRIC_SIM_NO_ARRAYS", "1");
  EXPECT_EQ(sampled({"\\J(*)\\Load"}, 2), "\\J(a)\\Load = 20 OK @0; \\J(b)\\Load = 5 OK @0; ");
  test_support::set_environment("VANTRIC_SIM_NO_ARRAYS", nullptr);
}

std::string read_text(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// --since-last over the table's raw series: one check's state file written
// as a row says ($K its key, $B this boot, $T a minute ago, $O two hours
// ago), then the values and window lines ("state:" lines to " in "), and
// "kept" when the stored record survived the run.
TEST(Sampling, SinceLastRun) {
  use_table();
  namespace fs = std::filesystem;
  const fs::path dir = "since_last_states";
  fs::remove_all(dir);
  fs::create_directory(dir);
  fs::permissions(dir, fs::perms::owner_all);
  std::string boot, why;
  ASSERT_TRUE(platform::read_boot_identity(&boot, &why)) << why;
  const std::string busy = "counter 0x21510500 10000000 \\k(a)\\busy\nname 0 ";
  const std::string cpu = "counter 0x20510500 10000000 \\process(*)\\cpu\nprocess ";
  struct Row {
    int line;
    std::string path, state, want;  // state "": none; "link": a symbolic link
  } rows[] = {
      {__LINE__, "\\K(a)\\Busy", "",
       "= 60%; window: the pair over -s (1000 ms) for \\K(a)\\Busy: no stored sample (first run); "
       "state: new baseline stored"},
      {__LINE__, "\\K(a)\\Busy", "$T\n" + busy + "0 91000000 90000000 1 \nend\n",
       "= 10%; window: 1.0 s since the last run; state: stored"},
      {__LINE__, "\\K(a)\\Busy", "$O\n" + busy + "0 91000000 90000000 1 \nend\n",
       "= 60%; window: the pair over -s (1000 ms) for \\K(a)\\Busy: stored sample is 7200 s old, "
       "more than 3600 s; state: new baseline stored"},
      {__LINE__, "\\K(a)\\Busy", "$T\n" + busy + "0 191000000 90000000 1 \nend\n",
       "= 60%; window: the pair over -s (1000 ms) for \\K(a)\\Busy: a value went down, not by a "
       "32-bit wrap (a reset); state: new baseline stored"},
      {__LINE__, "\\K(a)\\Busy", "$T\n" + busy + "9500000 91000000 90000000 1 \nend\n",
       "= 60%; window: the pair over -s (1000 ms) for \\K(a)\\Busy: window of 50 ms is under 100 "
       "ms; state: the last run's records kept; kept"},
      {__LINE__, "\\K(a)\\Busy", "$T\ncounter 0x20510500 10000000 \\k(a)\\busy\nend\n",
       "= 60%; window: the pair over -s (1000 ms) for \\K(a)\\Busy: no stored sample (first run or "
       "new instance); state: new baseline stored"},
      {__LINE__, "\\K(a)\\Busy", "$T\n" + busy + "0 91000000 90000000 1 \n",
       "= 60%; window: the pair over -s (1000 ms) for \\K(a)\\Busy: damaged state file (truncated: "
       "no end line); state: new baseline stored"},
      {__LINE__, "\\K(a)\\Busy", "link", " is a symbolic link: not followed"},
      // A process is matched by id and start time: a (another start) is left out.
      {__LINE__, "\\Process(*)\\Cpu",
       "$T\n" + cpu + "42 999 0 0 95000000 0 1 a\nprocess 43 556 0 0 95000000 90000000 1 b\nend\n",
       "\\Process(b)\\Cpu = 50%; window: 1.0 s since the last run; left out: \\Process(*)\\Cpu: 1 "
       "instance left out: no stored sample (first run or new instance) (a); state: stored"},
      // The pair is the collection pair() used and one after the pause (10, not 30).
      {__LINE__, "\\J(a)\\Load", "",
       "= 10; window: the pair over -s (1000 ms) for \\J(a)\\Load: no raw series on this system; "
       "state: no raw records to keep"},
  };
  check_vantric::Request r;
  r.since_last = true;
  r.state_dir = dir.string();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    r.paths = {row.path};
    check_vantric::check_counters(r);  // names the state file, which the row then replaces
    fs::path file;
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
      if (e.path().extension() == ".state") file = e.path();
    std::string text = row.state;
    const auto put = [&text](const std::string& from, const std::string& to) {
      for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, 2, to);
    };
    // Half a second more than the whole ages, so a second that turns during
    // the run does not change the age in whole seconds.
    const int64_t now =
        std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, 10000000>>>(
            std::chrono::system_clock::now().time_since_epoch())
            .count() -
        5000000;
    put("$T",
        "vantric-state 1\nkey $K\nboot $B\ncollected " + std::to_string(now - 60 * 10000000LL));
    put("$O",
        "vantric-state 1\nkey $K\nboot $B\ncollected " + std::to_string(now - 7200 * 10000000LL));
    put("$K", file.stem().string().substr(8));
    put("$B", boot);
    fs::remove(file);
    if (row.state == "link") {
      std::error_code no_links;  // Windows without the right to make links: nothing to refuse
      fs::create_symlink("elsewhere", file, no_links);
      if (no_links) continue;
    } else if (!text.empty())
      std::ofstream(file, std::ios::binary) << text;
    const plugin::CheckResult result = check_vantric::check_counters(r);
    std::string s =
        result.problem.substr(std::min(result.problem.size(), result.problem.rfind(" is ")));
    if (!s.empty()) s += "; ";
    for (const plugin::CounterResult& c : result.counters)
      s += (row.path.find('*') != std::string::npos
                ? plugin::counter_text(c)
                : plugin::counter_text(c).substr(row.path.size() + 1)) +
           "; ";
    for (const std::string& line : result.window.lines)
      s += line.substr(0, line.find(" in ")) + "; ";
    s.resize(s.size() - 2);
    if (row.state.find(" 9500000 ") != std::string::npos &&
        read_text(file).find(" 9500000 ") != std::string::npos)
      s += "; kept";
    EXPECT_EQ(s, row.want) << result.problem;
    fs::remove_all(dir / "x");
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) fs::remove(e.path());
  }
  fs::remove_all(dir);
}

}  // namespace
