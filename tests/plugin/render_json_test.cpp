#include "plugin/render_json.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Strings go through the one escaper every renderer entry shares; the
// expansion is its thinnest caller.
TEST(RenderJson, Strings) {
  struct Row {
    int line;
    const char *text, *json;
  };
  const Row rows[] = {
      {__LINE__, "plain", "\"plain\""},
      {__LINE__, "q\"b\\", "\"q\\\"b\\\\\""},
      {__LINE__, "a\nb\tc\x7F\x01", "\"a\\u000ab\\u0009c\\u007f\\u0001\""},
      {__LINE__, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
       "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {__LINE__, "caf\xE9", "\"caf\\udce9\""},                             // Latin-1 byte
      {__LINE__, "\xC3", "\"\\udcc3\""},                                   // cut sequence
      {__LINE__, "\xC0\xAF", "\"\\udcc0\\udcaf\""},                        // overlong '/'
      {__LINE__, "\xED\xA0\x80", "\"\\udced\\udca0\\udc80\""},             // encoded surrogate
      {__LINE__, "\xF4\x90\x80\x80", "\"\\udcf4\\udc90\\udc80\\udc80\""},  // above U+10FFFF
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(plugin::render_json_expand(row.text, {}),
              std::string("{\"pattern\":") + row.json + ",\"paths\":[]}\n");
  }
}

TEST(RenderJson, Result) {
  plugin::CheckResult r;
  plugin::CounterResult ok;
  ok.path = ok.label = "\\System\\Threads", ok.object = "System", ok.counter = "Threads";
  ok.kind = "count", ok.has_value = true, ok.value = 812.5, ok.crit = "1000";
  plugin::CounterResult bad = ok;
  bad.instance = "x", bad.has_value = false, bad.problem = "no such instance";
  bad.state = plugin::State::unknown;
  plugin::CounterResult inf = ok;
  inf.value = -INFINITY, inf.state = plugin::State::critical;
  r.counters = {ok, bad, inf};
  r.unmatched = {"\\P(z*)\\C"};
  r.unmatched_state = plugin::State::warning;
  const std::string fields =
      "\"path\":\"\\\\System\\\\Threads\",\"object\":\"System\",\"instance\":";
  const std::string tail = ",\"warn\":null,\"crit\":\"1000\",\"label\":\"\\\\System\\\\Threads\"}";
  EXPECT_EQ(
      plugin::render_json("VANTRIC", r),
      "{\"service\":\"VANTRIC\",\"state\":\"CRITICAL\",\"code\":2,\"summary\":\"\\\\P(z*)\\\\C: "
      "no match; 2 of 3 counters not OK: \\\\System\\\\Threads: no such instance (UNKNOWN), "
      "\\\\System\\\\Threads = -inf (CRITICAL)\","
      "\"counters\":[{" +
          fields +
          "null,\"counter\":\"Threads\",\"kind\":\"count\",\"unit\":\"\","
          "\"value\":812.5,\"state\":\"OK\",\"code\":0" +
          tail + ",{" + fields +
          "\"x\",\"counter\":\"Threads\",\"kind\":\"count\",\"unit\":\"\",\"problem\":\"no such "
          "instance\",\"state\":\"UNKNOWN\",\"code\":3" +
          tail + ",{" + fields +
          "null,\"counter\":\"Threads\",\"kind\":\"count\",\"unit\":\"\",\"value\":null,"
          "\"problem\":"
          "\"value is -inf\",\"state\":\"CRITICAL\",\"code\":2" +
          tail +
          "],\"unmatched\":[{\"path\":\"\\\\P(z*)\\\\C\",\"state\":\"WARNING\",\"code\":1}]}\n");
  EXPECT_EQ(plugin::render_json_list("P", {{"% T", "percent", "%", "Busy"}}, {"_Total", "0"}),
            "{\"object\":\"P\",\"counters\":[{\"name\":\"% T\",\"kind\":\"percent\",\"unit\":\"%\","
            "\"explanation\":\"Busy\"}],\"instances\":[\"_Total\",\"0\"]}\n");
  EXPECT_EQ(plugin::render_json_list({"A", "B"}), "{\"objects\":[\"A\",\"B\"]}\n");
}

}  // namespace
