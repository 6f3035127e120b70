// The performance-data service the counter sampler uses, and the two system
// calls that go with it. Backends: the system's own service on Windows, the
// /proc and /sys counter layer on Linux, and a table for the test build; the
// program that links one of them chooses.
//
// The calls keep the contract of their Windows namesakes: a counter path
// "\\computer\object(instance)\counter" or "\\computer\object\counter", status
// 0 on success and a 32-bit status code otherwise, two collections that let a
// rate be formed, and a value status of 0 or 1 for a usable value.
#pragma once

#include <cstdint>

namespace pdh {

using Status = uint32_t;
using Query = void*;
using Counter = void*;

constexpr Status CSTATUS_VALID_DATA = 0x00000000;
constexpr Status CSTATUS_NEW_DATA = 0x00000001;
constexpr Status CSTATUS_NO_MACHINE = 0x800007D0;
constexpr Status CSTATUS_NO_INSTANCE = 0x800007D1;
constexpr Status CSTATUS_ITEM_NOT_VALIDATED = 0x800007D3;
constexpr Status CSTATUS_NO_OBJECT = 0xC0000BB8;
constexpr Status CSTATUS_NO_COUNTER = 0xC0000BB9;
constexpr Status CSTATUS_INVALID_DATA = 0xC0000BBA;
constexpr Status INVALID_HANDLE = 0xC0000BBC;
constexpr Status INVALID_ARGUMENT = 0xC0000BBD;
constexpr Status CSTATUS_BAD_COUNTERNAME = 0xC0000BC0;

constexpr uint32_t FMT_DOUBLE = 0x00000200;
constexpr uint32_t FMT_NOCAP100 = 0x00008000;

// The value record of a formatted read (the double variant).
struct CounterValue {
  uint32_t c_status = 0;
  double value = 0.0;
};

Status open_query(Query* query);
Status add_counter(Query query, const char* full_path, Counter* counter);
Status collect_query_data(Query query);
Status get_formatted_counter_value(Counter counter, uint32_t format, CounterValue* value);
Status close_query(Query query);

// Copies the local computer name into `buffer` of `*size` bytes; on success
// returns true and sets `*size` to its length without the NUL.
bool get_computer_name(char* buffer, uint32_t* size);
void sleep_ms(uint32_t milliseconds);

}  // namespace pdh
