#if !defined(_WIN32)
#error "platform/win32 is the Windows backend; CMake picked the wrong folder"
#endif

#include "platform/faults.h"

#include <windows.h>

#include "platform/text_copy.h"

namespace platform {
namespace {

FaultHandler fault_handler = nullptr;
char own_path[261];

void copy_record(const EXCEPTION_RECORD& source, ExceptionRecord& record) {
  record.code = source.ExceptionCode;
  record.flags = source.ExceptionFlags;
  record.address = reinterpret_cast<uintptr_t>(source.ExceptionAddress);
  record.parameter_count = source.NumberParameters < kMaxExceptionParameters
                               ? source.NumberParameters
                               : kMaxExceptionParameters;
  for (uint32_t i = 0; i < record.parameter_count; ++i) {
    record.parameters[i] = static_cast<uintptr_t>(source.ExceptionInformation[i]);
  }
}

// Runs when no frame handled the exception and no debugger is attached; the
// system calls it on the faulting thread, so after a stack overflow only the
// stack guarantee reserved at install is left.
LONG WINAPI on_unhandled_exception(EXCEPTION_POINTERS* pointers) {
  if (fault_handler == nullptr || pointers == nullptr || pointers->ExceptionRecord == nullptr) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  ExceptionRecord record;
  copy_record(*pointers->ExceptionRecord, record);
  fault_handler(record);
  return EXCEPTION_CONTINUE_SEARCH;
}

ExceptionRecord overflow_record;

DWORD WINAPI report_overflow(void*) {
  fault_handler(overflow_record);
  return 0;
}

// A stack overflow is handled first, before the system walks the frames: with
// 64-bit exception records that walk alone can use up what the stack
// guarantee left (wine honours no guarantee beyond two pages), and the
// report then runs on a thread with a stack of its own.
LONG WINAPI on_first_chance_exception(EXCEPTION_POINTERS* pointers) {
  if (fault_handler == nullptr || pointers == nullptr || pointers->ExceptionRecord == nullptr ||
      pointers->ExceptionRecord->ExceptionCode != fault_code::kStackOverflow) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  copy_record(*pointers->ExceptionRecord, overflow_record);
  HANDLE thread = ::CreateThread(nullptr, 256 * 1024, &report_overflow, nullptr, 0, nullptr);
  if (thread == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  ::WaitForSingleObject(thread, INFINITE);
  return EXCEPTION_CONTINUE_SEARCH;
}

// Control-C and Control-Break arrive on a thread of their own, not as an
// exception of the main thread.
BOOL WINAPI on_console_control(DWORD event) {
  if (fault_handler == nullptr || (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT))
    return FALSE;
  ExceptionRecord record;
  record.code = fault_code::kControlCExit;
  fault_handler(record);
  return TRUE;
}

void reserve_stack_for_handler() {
  using Guarantee = BOOL(WINAPI*)(PULONG);
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return;
  auto guarantee = reinterpret_cast<Guarantee>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetThreadStackGuarantee")));
  if (guarantee == nullptr) return;
  ULONG size = 32 * 1024;
  guarantee(&size);
}

}  // namespace

void install_fault_handlers(FaultHandler handler) {
  DWORD length = ::GetModuleFileNameA(nullptr, own_path, sizeof own_path);
  own_path[length < sizeof own_path ? length : sizeof own_path - 1] = '\0';
  fault_handler = handler;
  reserve_stack_for_handler();
  ::SetUnhandledExceptionFilter(&on_unhandled_exception);
  ::AddVectoredExceptionHandler(1, &on_first_chance_exception);
  ::SetConsoleCtrlHandler(&on_console_control, TRUE);
}

bool find_module(uintptr_t address, char* path, std::size_t capacity, uintptr_t* base) {
  MEMORY_BASIC_INFORMATION info{};
  if (::VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) == 0) return false;
  if (info.State != MEM_COMMIT) return false;
  char name[261];
  DWORD length = ::GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), name, sizeof name);
  if (length == 0) return false;
  name[length < sizeof name ? length : sizeof name - 1] = '\0';
  copy_cut(path, capacity, name);
  *base = reinterpret_cast<uintptr_t>(info.AllocationBase);
  return true;
}

void program_path(char* path, std::size_t capacity) {
  if (own_path[0] == '\0') {
    DWORD length = ::GetModuleFileNameA(nullptr, own_path, sizeof own_path);
    own_path[length < sizeof own_path ? length : sizeof own_path - 1] = '\0';
  }
  copy_cut(path, capacity, own_path);
}

bool is_path_separator(char c) { return c == '\\'; }

void convert_to_oem(char* text, std::size_t length) {
  ::CharToOemBuffA(text, text, static_cast<DWORD>(length));
}

void show_message_box(const char* text, const char* caption) {
  ::MessageBoxA(nullptr, text, caption, MB_OK);
}

void exit_process(int32_t status) { ::ExitProcess(static_cast<UINT>(status)); }

// From the fault handler the loader's detach routines may not be able to run
// (no stack left, a lock held by the faulting code): end without them.
void exit_process_now(int32_t status) {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
  ::ExitProcess(static_cast<UINT>(status));
}

}  // namespace platform
