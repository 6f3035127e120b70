// A temporary root directory for the counter layer's benchmarks: made at
// construction, removed with everything in it at destruction; env() points
// the layer at it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "perfdata/linux/env.h"

class FixtureRoot {
 public:
  explicit FixtureRoot(const char* prefix) {
    std::string templ = std::string("/tmp/") + prefix + "-XXXXXX";
    const char* made = mkdtemp(templ.data());
    dir_ = made != nullptr ? made : "/nonexistent";
  }
  ~FixtureRoot() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  FixtureRoot(const FixtureRoot&) = delete;
  FixtureRoot& operator=(const FixtureRoot&) = delete;

  const std::string& dir() const { return dir_; }
  perfdata::linux_backend::Env env() const {
    perfdata::linux_backend::Env e = perfdata::linux_backend::default_env();
    e.root = dir_;
    return e;
  }

 private:
  std::string dir_;
};
