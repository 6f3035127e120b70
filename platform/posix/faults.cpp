#if defined(_WIN32)
#error "platform/posix is the posix backend; CMake picked the wrong folder"
#endif

#include "platform/faults.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
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

// The loaded object holding `address`: its base (where its first segment
// starts, the ELF header) and its name, empty for the program itself.
struct LoadedObject {
  uintptr_t address;
  uintptr_t base;
  const char* name;
};

int match_segment(dl_phdr_info* info, std::size_t, void* data) {
  auto* wanted = static_cast<LoadedObject*>(data);
  uintptr_t first = UINTPTR_MAX;
  bool inside = false;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const auto& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD) continue;
    const uintptr_t start = info->dlpi_addr + segment.p_vaddr;
    const uintptr_t aligned =
        segment.p_align > 1 ? start & ~(static_cast<uintptr_t>(segment.p_align) - 1) : start;
    if (aligned < first) first = aligned;
    if (wanted->address >= start && wanted->address - start < segment.p_memsz) inside = true;
  }
  if (!inside) return 0;
  wanted->base = first;
  wanted->name = info->dlpi_name;
  return 1;
}

// dladdr knows nothing of a statically linked program; the program headers
// are there in every program. Both take the loader's recursive lock; with
// one thread that cannot block, so they are usable from the fault handler.
bool locate(uintptr_t address, uintptr_t* base, const char** name) {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(address), &info) != 0 && info.dli_fbase != nullptr) {
    *base = reinterpret_cast<uintptr_t>(info.dli_fbase);
    *name = info.dli_fname != nullptr ? info.dli_fname : "";
    return true;
  }
  LoadedObject object{address, 0, nullptr};
  if (::dl_iterate_phdr(&match_segment, &object) == 0) return false;
  *base = object.base;
  *name = object.name != nullptr ? object.name : "";
  return true;
}

void cache_program_module() {
  ssize_t n = ::readlink("/proc/self/exe", own_path, sizeof own_path - 1);
  own_path[n > 0 ? n : 0] = '\0';
  const char* name = nullptr;
  if (locate(reinterpret_cast<uintptr_t>(&install_fault_handlers), &own_base, &name)) {
    if (own_path[0] == '\0') copy_cut(own_path, sizeof own_path, name);
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

#if defined(__aarch64__)
// Whether the load/store-class instruction `insn` writes memory: stores,
// and the atomic read-modify-write forms.
bool instruction_writes(uint32_t insn) {
  if ((insn & 0x0A000000u) != 0x08000000u) return false;  // not a load or store
  if ((insn & 0x3B000000u) == 0x18000000u) return false;  // load from a literal
  if ((insn & 0x3A000000u) == 0x38000000u) {              // single register forms
    const uint32_t opc = (insn >> 22) & 3;
    const bool vector = ((insn >> 26) & 1) != 0;
    const bool atomic =
        ((insn >> 21) & 1) != 0 && ((insn >> 10) & 3) == 0 && ((insn >> 24) & 1) == 0;
    if (atomic && !vector) return true;
    if (vector && (insn >> 30) == 0 && opc == 2) return true;  // 128-bit store
    return opc == 0;
  }
  return ((insn >> 22) & 1) == 0;  // pairs, exclusives, structures: the L bit
}

// The kernel's record of the fault (ESR), when it gave one.
bool fault_syndrome(const ucontext_t* context, uint64_t* esr) {
  const unsigned char* at = reinterpret_cast<const unsigned char*>(context->uc_mcontext.__reserved);
  const unsigned char* end = at + sizeof context->uc_mcontext.__reserved;
  while (at + sizeof(_aarch64_ctx) <= end) {
    const auto* head = reinterpret_cast<const _aarch64_ctx*>(at);
    if (head->magic == 0 || head->size < sizeof(_aarch64_ctx)) return false;
    if (head->magic == ESR_MAGIC) {
      *esr = reinterpret_cast<const esr_context*>(head)->esr;
      return true;
    }
    at += head->size;
  }
  return false;
}
#endif

// 1 for a write access, 0 for a read: the page-fault error code on x86; on
// ARM the syndrome's write bit, or (emulators give no syndrome) the
// faulting instruction itself. Others do not say, and count as read.
uintptr_t access_was_write(const ucontext_t* context, uintptr_t data_address) {
#if defined(__x86_64__) || defined(__i386__)
  (void)data_address;
  return (context->uc_mcontext.gregs[REG_ERR] & 2) != 0 ? 1 : 0;
#elif defined(__aarch64__)
  uint64_t esr = 0;
  if (fault_syndrome(context, &esr)) {
    const uint64_t exception_class = esr >> 26;
    if (exception_class == 0x24 || exception_class == 0x25) return (esr >> 6) & 1;
    return 0;
  }
  const uintptr_t pc = context->uc_mcontext.pc;
  // A jump to the bad address: the instruction is not there to be read.
  if (pc == data_address) return 0;
  uint32_t insn;
  std::memcpy(&insn, reinterpret_cast<const void*>(pc), sizeof insn);
  return instruction_writes(insn) ? 1 : 0;
#else
  (void)context;
  (void)data_address;
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
      // Raised by the program itself: on processors whose division does
      // not trap (ARM), a division by zero is checked for and reported so.
      if (info->si_code == SI_USER || info->si_code == SI_TKILL) return kIntegerDivideByZero;
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
    record.parameters[0] = access_was_write(context, reinterpret_cast<uintptr_t>(info->si_addr));
    record.parameters[1] = reinterpret_cast<uintptr_t>(info->si_addr);
  }
  if (fault_handler != nullptr) fault_handler(record);
  ::_exit(1);
}

}  // namespace

void install_fault_handlers(FaultHandler handler) {
  // A write beyond the file size limit (ulimit -f) then fails with EFBIG and
  // is reported like any failed write, instead of ending the process.
  ::signal(SIGXFSZ, SIG_IGN);
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

bool find_module(uintptr_t address, char* path, std::size_t capacity, uintptr_t* base) {
  const char* name = nullptr;
  if (address == 0 || !locate(address, base, &name)) return false;
  copy_cut(path, capacity, own_base != 0 && *base == own_base ? own_path : name);
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
