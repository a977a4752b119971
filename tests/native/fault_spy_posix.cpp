// The fault spy and the read-only page of fault_cases.h on POSIX: the spy is
// a signal handler in front of the installed one.
#include <signal.h>
#include <sys/mman.h>

#include <cstring>
#include <iterator>

#include "fault_cases.h"

// The address sanitizer's own fault handlers would otherwise be the ones in
// place before ours: let the tests see the system's defaults.
extern "C" const char* __asan_default_options() {
  return "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0";
}

namespace fault_test {

namespace {

constexpr int handled_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};

thread_local int faults_of_thread = 0;

// Stands in front of the installed handler: counts, then passes the fault
// on to it with the same arguments.
struct sigaction handler_behind_spy[std::size(handled_signals)];

void spy(int signal_number, siginfo_t* info, void* context) {
  ++faults_of_thread;
  for (std::size_t i = 0; i < std::size(handled_signals); ++i) {
    if (handled_signals[i] == signal_number)
      handler_behind_spy[i].sa_sigaction(signal_number, info, context);
  }
}

}  // namespace

void attach_spy() {
  for (std::size_t i = 0; i < std::size(handled_signals); ++i) {
    sigaction(handled_signals[i], nullptr, &handler_behind_spy[i]);
    struct sigaction action = handler_behind_spy[i];
    action.sa_sigaction = spy;
    sigaction(handled_signals[i], &action, nullptr);
  }
}

void detach_spy() {
  for (std::size_t i = 0; i < std::size(handled_signals); ++i) {
    sigaction(handled_signals[i], &handler_behind_spy[i], nullptr);
  }
}

int faults_seen() { return faults_of_thread; }

read_only_page::read_only_page() {
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return;
  std::memset(memory, pattern, size);
  mprotect(memory, size, PROT_READ);
  memory_ = static_cast<std::uint8_t*>(memory);
}

read_only_page::~read_only_page() {
  if (memory_ != nullptr) munmap(memory_, size);
}

}  // namespace fault_test
