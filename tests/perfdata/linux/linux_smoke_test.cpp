// The layer on this machine's own /proc and /sys, through the same calls the
// sampler uses.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "perfdata/perfdata.h"
#include "perfdata/linux/query.h"

namespace {

struct Sampled {
  perfdata::Status add = 0;
  perfdata::CounterValue value;
};

Sampled sample(const std::string& path, useconds_t pause_us) {
  Sampled s;
  perfdata::linux_backend::Query q(perfdata::linux_backend::default_env());
  perfdata::linux_backend::Counter* c = nullptr;
  s.add = q.add(path, &c);
  if (s.add != 0) return s;
  q.collect();
  usleep(pause_us);
  q.collect();
  perfdata::linux_backend::FormattedValue fv = c->format(perfdata::FMT_DOUBLE);
  s.value.c_status = fv.c_status;
  s.value.value = fv.value;
  return s;
}

double meminfo_kib(const std::string& key) {
  std::ifstream in("/proc/meminfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::stod(line.substr(key.size() + 1));
  }
  return -1;
}

TEST(Smoke, ProcessorTotalIsAPercentage) {
  Sampled s = sample("\\Processor(_Total)\\% Processor Time", 100000);
  ASSERT_EQ(s.add, 0u);
  EXPECT_EQ(s.value.c_status, 0u);
  EXPECT_GE(s.value.value, 0.0);
  EXPECT_LE(s.value.value, 100.0);
}

TEST(Smoke, AvailableBytesFollowsMemAvailable) {
  Sampled s = sample("\\Memory\\Available Bytes", 0);
  ASSERT_EQ(s.add, 0u);
  ASSERT_EQ(s.value.c_status, 0u);
  double expected = meminfo_kib("MemAvailable") * 1024.0;
  ASSERT_GT(expected, 0.0);
  EXPECT_NEAR(s.value.value, expected, expected * 0.05);
}

TEST(Smoke, LoopbackInterfaceCountsTraffic) {
  Sampled s = sample("\\Network Interface(lo)\\Bytes Total/sec", 50000);
  ASSERT_EQ(s.add, 0u);
  EXPECT_EQ(s.value.c_status, 0u);
  EXPECT_GE(s.value.value, 0.0);
  EXPECT_EQ(sample("\\Network Interface(lo)\\Current Bandwidth", 0).value.c_status, 0u);
}

TEST(Smoke, ThroughThePlatformCallsWithTheComputerName) {
  char name[16] = {};
  uint32_t size = sizeof name;
  ASSERT_TRUE(perfdata::get_computer_name(name, &size));
  EXPECT_EQ(size, std::string(name).size());
  EXPECT_LE(size, 15u);
  perfdata::Query q = nullptr;
  ASSERT_EQ(perfdata::open_query(&q), 0u);
  perfdata::Counter c = nullptr;
  std::string path = std::string("\\\\") + name + "\\System\\System Up Time";
  ASSERT_EQ(perfdata::add_counter(q, path.c_str(), &c), 0u);
  perfdata::collect_query_data(q);
  perfdata::collect_query_data(q);
  perfdata::CounterValue v;
  EXPECT_EQ(perfdata::get_formatted_counter_value(c, perfdata::FMT_DOUBLE, &v), 0u);
  EXPECT_EQ(v.c_status, 0u);
  EXPECT_GT(v.value, 0.0);
  EXPECT_EQ(perfdata::add_counter(q, "\\\\no-such-host-x\\System\\System Up Time", &c),
            perfdata::CSTATUS_NO_MACHINE);
  EXPECT_EQ(perfdata::close_query(q), 0u);
}

void on_alarm(int) {}

TEST(Smoke, SleepLastsTheFullTimeDespiteSignals) {
  // A handler without SA_RESTART cuts nanosleep short with EINTR.
  struct sigaction sa {};
  sa.sa_handler = on_alarm;
  struct sigaction old {};
  ASSERT_EQ(sigaction(SIGALRM, &sa, &old), 0);
  itimerval every{{0, 5000}, {0, 5000}};
  setitimer(ITIMER_REAL, &every, nullptr);
  timespec a{}, b{};
  clock_gettime(CLOCK_MONOTONIC, &a);
  perfdata::sleep_ms(30);
  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &old, nullptr);
  clock_gettime(CLOCK_MONOTONIC, &b);
  double ms = (b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) / 1e6;
  EXPECT_GE(ms, 30.0);
}

}  // namespace

// Every counter of every object answers on this machine, or reports the
// status its missing source calls for: an object with no instances here (no
// swap area gives Paging File none) refuses the add with NO_INSTANCE.
TEST(Smoke, EveryCounterOfTheCatalogueAnswers) {
  const perfdata::linux_backend::Env env = perfdata::linux_backend::default_env();
  for (const perfdata::linux_backend::ObjectDef* obj : perfdata::linux_backend::all_objects()) {
    std::string instance;
    perfdata::Status want_add = 0;
    if (obj->multi_instance) {
      perfdata::linux_backend::Request every;
      every.every = true;
      perfdata::linux_backend::Pass pass;
      obj->pass(env, every, pass);
      ASSERT_TRUE(pass.ok) << obj->name;
      const std::vector<perfdata::linux_backend::Instance>& instances = pass.instances;
      if (instances.empty()) {
        want_add = perfdata::CSTATUS_NO_INSTANCE;
        instance = "(_Total)";
      } else {
        instance = "(" + instances.front().name + ")";
        for (const perfdata::linux_backend::Instance& inst : instances)
          if (inst.name == "_Total" || inst.name == "lo") instance = "(" + inst.name + ")";
      }
    }
    perfdata::linux_backend::Query q(env);
    std::vector<std::pair<std::string, perfdata::linux_backend::Counter*>> added;
    for (const perfdata::linux_backend::CounterDef& row : obj->counters) {
      const std::string path = std::string("\\") + obj->name + instance + "\\" + row.name;
      perfdata::linux_backend::Counter* c = nullptr;
      EXPECT_EQ(q.add(path, &c), want_add) << path;
      if (c != nullptr) added.emplace_back(path, c);
    }
    q.collect();
    usleep(50000);
    q.collect();
    for (const auto& [path, c] : added) {
      const perfdata::linux_backend::FormattedValue v =
          c->format(perfdata::FMT_DOUBLE | perfdata::FMT_NOCAP100);
      EXPECT_EQ(v.c_status, perfdata::CSTATUS_VALID_DATA) << path;
      EXPECT_TRUE(std::isfinite(v.value)) << path;
    }
  }
}
