// The state parser on any bytes: it never crashes, and what it accepts is
// written back as a text it accepts again with the same meaning (write,
// parse and write give the same text), and judged without a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "perfdata/sample_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace perfdata;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  SampleState state;
  std::string why;
  if (!parse_sample_state(text, &state, &why)) {
    if (why.empty()) std::abort();
    return 0;
  }
  const std::string written = write_sample_state(state);
  SampleState again;
  if (!parse_sample_state(written, &again, &why) || write_sample_state(again) != written)
    std::abort();
  for (const StoredCounter& counter : state.counters) {
    const SampleContext then{state.boot, state.collected, counter.type, counter.time_base};
    for (const StoredInstance& instance : counter.instances) {
      if (find_instance(counter, instance.identity) == nullptr) std::abort();
      RawCounter newer = instance.raw;
      // Wrapping on purpose: the stored values may be anywhere in range.
      newer.time_stamp = static_cast<int64_t>(static_cast<uint64_t>(newer.time_stamp) + 600000000);
      newer.first_value = static_cast<int64_t>(static_cast<uint64_t>(newer.first_value) + 1);
      const SampleContext today{
          state.boot, static_cast<int64_t>(static_cast<uint64_t>(state.collected) + 600000000),
          counter.type, counter.time_base};
      judge_stored_sample(then, &instance.raw, today, newer, 36000000000);
    }
  }
  return 0;
}
