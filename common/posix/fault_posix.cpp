// Crash handling on POSIX: signal handlers for the processor's faults that
// move the saved instruction pointer past the faulting instruction.
//
// SIGTRAP (int3, int1, single step) already reports the address after the
// instruction, so it continues where it stands. A fault that cannot be
// resumed (an instruction we cannot decode, code that cannot be read, a
// stack overflow, a fault inside the handler, a signal sent by another
// process rather than raised by the processor) gets the default action
// back and is raised again, so the process ends the system's way instead
// of faulting forever.
//
// The thread that installs the handler gets an alternate signal stack;
// other threads run the handler on their own stack, and on a stack overflow
// there the kernel cannot deliver the signal at all and ends the process.
#include <signal.h>
#include <ucontext.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fault.h"

namespace {

constexpr int handled_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
constexpr int signal_count = sizeof handled_signals / sizeof handled_signals[0];

// Faults this close to the stack pointer are taken for a stack overflow.
constexpr std::uintptr_t stack_overflow_reach = 64 * 1024;

struct sigaction previous_actions[signal_count];
std::atomic<int> installed{0};

// Set while this thread runs the handler: a fault inside it is not resumed.
thread_local int handling = 0;

// The alternate signal stack of a thread that installed the handler. It is
// switched off before its memory goes, in case a signal comes late during
// the thread's (or the process's) end.
class alternate_stack {
 public:
  alternate_stack() = default;
  alternate_stack(const alternate_stack&) = delete;
  alternate_stack& operator=(const alternate_stack&) = delete;
  ~alternate_stack() { release(); }

  void ensure() {
    if (memory_) return;
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0) {
      return;  // the thread has one already (a sanitizer's, say)
    }
    auto memory = std::make_unique<char[]>(size);
    stack_t stack{};
    stack.ss_sp = memory.get();
    stack.ss_size = size;
    if (sigaltstack(&stack, nullptr) == 0) memory_ = std::move(memory);
  }

 private:
  static constexpr std::size_t size = 64 * 1024;

  void release() {
    if (!memory_) return;
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == memory_.get()) {
      stack_t off{};
      off.ss_flags = SS_DISABLE;
      sigaltstack(&off, nullptr);
    }
    memory_.reset();
  }

  std::unique_ptr<char[]> memory_;
};

thread_local alternate_stack thread_alternate_stack;

// Ends the process the system's way: the default action, raised again.
// The signal is blocked while the handler runs, so it is delivered (with the
// default action) once the handler returns; a processor fault also simply
// recurs there.
void give_up(int signal_number) {
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal_number, &fallback, nullptr);
  raise(signal_number);
}

// The number of bytes of the instruction at pc that can be read: a fault
// whose address lies inside those bytes was the instruction fetch itself.
std::size_t readable_code(int signal_number, const siginfo_t* info, std::uintptr_t pc) {
  std::size_t available = 15;
  if (signal_number == SIGSEGV || signal_number == SIGBUS) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    if (address >= pc && address - pc < available) available = address - pc;
  }
  return available;
}

bool near_stack_pointer(const siginfo_t* info, std::uintptr_t sp) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  const std::uintptr_t distance = address > sp ? address - sp : sp - address;
  return distance < stack_overflow_reach;
}

// Moves the saved instruction pointer past the faulting instruction; false
// when that cannot be done.
bool resume_after(int signal_number, const siginfo_t* info, void* context) {
  // A signal sent by kill, raise or sigqueue names no faulting instruction.
  if (info == nullptr || info->si_code <= 0) return false;
  if (signal_number == SIGTRAP) return true;  // already after the instruction
#if defined(__x86_64__)
  auto* registers = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
  const auto pc = static_cast<std::uintptr_t>(registers[REG_RIP]);
  const auto sp = static_cast<std::uintptr_t>(registers[REG_RSP]);
  const bool long_mode = true;
#elif defined(__i386__)
  auto* registers = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
  const auto pc = static_cast<std::uintptr_t>(registers[REG_EIP]);
  const auto sp = static_cast<std::uintptr_t>(registers[REG_ESP]);
  const bool long_mode = false;
#else
  (void)context;
  return false;  // no instruction decoder for this processor
#endif
#if defined(__x86_64__) || defined(__i386__)
  if ((signal_number == SIGSEGV || signal_number == SIGBUS) && near_stack_pointer(info, sp)) {
    return false;
  }
  const std::size_t available = readable_code(signal_number, info, pc);
  if (available == 0) return false;
  const std::size_t length =
      instruction_length(reinterpret_cast<const std::uint8_t*>(pc), available, long_mode);
  if (length == 0) return false;
#if defined(__x86_64__)
  registers[REG_RIP] = static_cast<greg_t>(pc + length);
#else
  registers[REG_EIP] = static_cast<greg_t>(pc + length);
#endif
  return true;
#endif
}

void on_fault(int signal_number, siginfo_t* info, void* context) {
  if (handling != 0) {
    give_up(signal_number);
    return;
  }
  handling = 1;
  const bool resumed = resume_after(signal_number, info, context);
  handling = 0;
  if (!resumed) give_up(signal_number);
}

bool handler_in_place(int signal_number) {
  struct sigaction current {};
  if (sigaction(signal_number, nullptr, &current) != 0) return false;
  return (current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == on_fault;
}

void set_handler(int signal_number, struct sigaction* previous) {
  struct sigaction action {};
  action.sa_sigaction = on_fault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, previous);
}

}  // namespace

void install_fault_handler() {
  thread_alternate_stack.ensure();
  if (installed.exchange(1) != 0) return;  // keep the handlers of the first call
  for (int i = 0; i < signal_count; ++i) set_handler(handled_signals[i], &previous_actions[i]);
}

// Resume is the only mode there is, and there is no handler procedure to
// clear; what selecting it again can change is a handler that somebody put
// in our place since the installation: ours is made the one in effect.
void set_error_mode_resume() {
  if (installed.load() == 0) return;
  for (int i = 0; i < signal_count; ++i) {
    if (!handler_in_place(handled_signals[i])) set_handler(handled_signals[i], nullptr);
  }
}

void remove_fault_handler() {
  if (installed.exchange(0) == 0) return;
  for (int i = 0; i < signal_count; ++i)
    sigaction(handled_signals[i], &previous_actions[i], nullptr);
}
