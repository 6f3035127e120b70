// The system calls of the Windows backend, as one table. The backend calls
// only through syscalls(); a test replaces entries with substitutes to drive
// the list-buffer and two-call logic (a Wine 8 prefix lacks the real calls)
// or to answer as a system in another display language would.
// Internal to perfdata/win32: no program includes this.
#pragma once

#ifndef _WIN32
#error "perfdata/win32 is the Windows backend; CMake picked the wrong folder"
#endif

#include <windows.h>
#include <pdh.h>
#include <pdhmsg.h>

namespace perfdata::win32_backend {

struct SysCalls {
  PDH_STATUS(WINAPI* enum_objects)
  (LPCSTR source, LPCSTR machine, LPSTR list, LPDWORD size, DWORD detail, WINBOOL refresh);
  PDH_STATUS(WINAPI* enum_object_items)
  (LPCSTR source, LPCSTR machine, LPCSTR object, LPSTR counters, LPDWORD counters_size,
   LPSTR instances, LPDWORD instances_size, DWORD detail, DWORD flags);
  PDH_STATUS(WINAPI* expand_wildcard_path)
  (LPCSTR source, LPCSTR path, LPSTR list, LPDWORD size, DWORD flags);
  PDH_STATUS(WINAPI* get_counter_info)
  (PDH_HCOUNTER counter, BOOLEAN explain, LPDWORD size, PPDH_COUNTER_INFO_A info);
  PDH_STATUS(WINAPI* add_counter)
  (PDH_HQUERY query, LPCSTR path, DWORD_PTR user, PDH_HCOUNTER* counter);
  // PdhAddEnglishCounterA when pdh.dll exports it (Vista and later), else null.
  PDH_STATUS(WINAPI* add_english_counter)
  (PDH_HQUERY query, LPCSTR path, DWORD_PTR user, PDH_HCOUNTER* counter);
  PDH_STATUS(WINAPI* get_formatted_counter_value)
  (PDH_HCOUNTER counter, DWORD format, LPDWORD type, PPDH_FMT_COUNTERVALUE value);
  // Null where only a stub that ends the process exists (Wine).
  PDH_STATUS(WINAPI* get_formatted_counter_array)
  (PDH_HCOUNTER counter, DWORD format, LPDWORD size, LPDWORD count,
   PPDH_FMT_COUNTERVALUE_ITEM_A items);
  PDH_STATUS(WINAPI* get_counter_time_base)(PDH_HCOUNTER counter, LONGLONG* time_base);
  PDH_STATUS(WINAPI* get_raw_counter_value)
  (PDH_HCOUNTER counter, LPDWORD type, PPDH_RAW_COUNTER value);
  // Null where only a stub that ends the process exists (Wine).
  PDH_STATUS(WINAPI* get_raw_counter_array)
  (PDH_HCOUNTER counter, LPDWORD size, LPDWORD count, PPDH_RAW_COUNTER_ITEM_A items);
  PDH_STATUS(WINAPI* calculate_counter_from_raw_value)
  (PDH_HCOUNTER counter, DWORD format, PPDH_RAW_COUNTER newer, PPDH_RAW_COUNTER older,
   PPDH_FMT_COUNTERVALUE value);
  // True where PdhEnumObjectsA is only a stub whose call ends the process
  // (Wine, whose ntdll exports wine_get_version).
  bool enum_objects_is_stub;
};

// The table in use: the real calls, resolved once.
SysCalls& syscalls();

}  // namespace perfdata::win32_backend
