#if defined(_WIN32)
#error "platform/posix is the posix backend; CMake picked the wrong folder"
#endif

#include "platform/faults.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/text_copy.h"

namespace platform {
namespace {

constexpr int kHandledSignals[] = {SIGSEGV, SIGBUS,  SIGFPE, SIGILL,
                                   SIGTRAP, SIGABRT, SIGSYS, SIGINT};

FaultHandler fault_handler = nullptr;

// The handler must be able to run when the thread's own stack is used up.
alignas(16) char alternate_stack[64 * 1024];

// Cached at install so that the handler needs no allocation and no /proc.
char own_path[261];
uintptr_t own_base = 0;
uintptr_t stack_low = 0;  // lowest address the main thread's stack may reach

// A fault at or just below the stack's lowest address (the guard gap the
// kernel keeps under a growing stack) is a stack overflow, not a wild access.
constexpr uintptr_t kGuardBelow = 1024 * 1024;
constexpr uintptr_t kGuardAbove = 64 * 1024;

void cache_program_module() {
  ssize_t length = ::readlink("/proc/self/exe", own_path, sizeof own_path - 1);
  own_path[length > 0 ? length : 0] = '\0';
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&install_fault_handlers), &info) != 0) {
    own_base = reinterpret_cast<uintptr_t>(info.dli_fbase);
    if (own_path[0] == '\0' && info.dli_fname != nullptr)
      copy_cut(own_path, sizeof own_path, info.dli_fname);
  }
}

void cache_stack_limit() {
  pthread_attr_t attr;
  if (::pthread_getattr_np(::pthread_self(), &attr) != 0) return;
  void* address = nullptr;
  std::size_t size = 0;
  if (::pthread_attr_getstack(&attr, &address, &size) == 0)
    stack_low = reinterpret_cast<uintptr_t>(address);
  ::pthread_attr_destroy(&attr);
}

uintptr_t instruction_pointer(const ucontext_t* context) {
#if defined(__x86_64__)
  return static_cast<uintptr_t>(context->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
  return static_cast<uintptr_t>(context->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
  return static_cast<uintptr_t>(context->uc_mcontext.pc);
#else
  (void)context;
  return 0;
#endif
}

// 1 for a write access, 0 for a read (the page-fault error code on x86;
// other processors do not say, and count as read).
uintptr_t access_was_write(const ucontext_t* context) {
#if defined(__x86_64__) || defined(__i386__)
  return (context->uc_mcontext.gregs[REG_ERR] & 2) != 0 ? 1 : 0;
#else
  (void)context;
  return 0;
#endif
}

bool in_stack_guard(uintptr_t address) {
  if (stack_low == 0) return false;
  uintptr_t from = stack_low > kGuardBelow ? stack_low - kGuardBelow : 0;
  return address >= from && address < stack_low + kGuardAbove;
}

uint32_t code_for_signal(int signal_number, const siginfo_t* info) {
  using namespace fault_code;
  switch (signal_number) {
    case SIGSEGV:
    case SIGBUS:
      return in_stack_guard(reinterpret_cast<uintptr_t>(info->si_addr)) ? kStackOverflow
                                                                        : kAccessViolation;
    case SIGFPE:
      switch (info->si_code) {
        case FPE_INTDIV:
          return kIntegerDivideByZero;
        case FPE_INTOVF:
          return kIntegerOverflow;
        case FPE_FLTDIV:
          return kFloatDivideByZero;
        case FPE_FLTOVF:
          return kFloatOverflow;
        case FPE_FLTUND:
          return kFloatUnderflow;
        case FPE_FLTRES:
          return kFloatInexactResult;
        case FPE_FLTINV:
          return kFloatInvalidOperation;
        case FPE_FLTSUB:
          return kArrayBoundsExceeded;
        default:
          break;
      }
      break;
    case SIGILL:
      return info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG ? kPrivilegedInstruction
                                                                        : kIllegalInstruction;
    case SIGTRAP:
      return kBreakpoint;
    case SIGINT:
      return kControlCExit;
    default:
      break;
  }
  return kOtherSignalBase + static_cast<uint32_t>(signal_number);
}

void on_signal(int signal_number, siginfo_t* info, void* raw_context) {
  static volatile sig_atomic_t entered = 0;
  // A fault inside the handler itself: nothing more can be reported safely.
  if (entered != 0) ::_exit(1);
  entered = 1;
  const auto* context = static_cast<const ucontext_t*>(raw_context);
  ExceptionRecord record;
  record.code = code_for_signal(signal_number, info);
  record.address = instruction_pointer(context);
  if (signal_number == SIGSEGV || signal_number == SIGBUS) {
    record.parameter_count = 2;
    record.parameters[0] = access_was_write(context);
    record.parameters[1] = reinterpret_cast<uintptr_t>(info->si_addr);
  }
  if (fault_handler != nullptr) fault_handler(record);
  ::_exit(1);
}

}  // namespace

void install_fault_handlers(FaultHandler handler) {
  cache_program_module();
  cache_stack_limit();
  fault_handler = handler;

  stack_t stack{};
  stack.ss_sp = alternate_stack;
  stack.ss_size = sizeof alternate_stack;
  ::sigaltstack(&stack, nullptr);

  for (int signal_number : kHandledSignals) {
    struct sigaction action {};
    action.sa_sigaction = &on_signal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // A fault inside the handler must reach it again (and end the process)
    // rather than be held back, which would make the kernel kill us.
    if (signal_number != SIGINT) action.sa_flags |= SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    ::sigaction(signal_number, &action, nullptr);
  }
}

// dladdr takes the loader's recursive lock; with one thread it cannot block,
// so it is usable from the fault handler.
bool find_module(uintptr_t address, char* path, std::size_t capacity, uintptr_t* base) {
  Dl_info info{};
  if (address == 0 || ::dladdr(reinterpret_cast<void*>(address), &info) == 0 ||
      info.dli_fbase == nullptr) {
    return false;
  }
  *base = reinterpret_cast<uintptr_t>(info.dli_fbase);
  if (own_base != 0 && *base == own_base) {
    copy_cut(path, capacity, own_path);
  } else {
    copy_cut(path, capacity, info.dli_fname != nullptr ? info.dli_fname : "");
  }
  return true;
}

void program_path(char* path, std::size_t capacity) {
  if (own_path[0] == '\0') cache_program_module();
  copy_cut(path, capacity, own_path);
}

bool is_path_separator(char c) { return c == '/'; }

void convert_to_oem(char*, std::size_t) {}

void show_message_box(const char* text, const char* caption) {
  auto put = [](const char* part) {
    std::size_t left = std::strlen(part);
    while (left > 0) {
      ssize_t written = ::write(STDERR_FILENO, part, left);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return;
      part += written;
      left -= static_cast<std::size_t>(written);
    }
  };
  put(caption);
  put(": ");
  put(text);
  put("\n");
}

void exit_process(int32_t status) { std::exit(status); }

void exit_process_now(int32_t status) { ::_exit(status); }

}  // namespace platform
