// The resumable faults, for the crash handler's tests on both platforms:
// each faulting x86-64 instruction is written in inline assembly (so the
// compiler can neither drop nor move it) and followed by a store that proves
// execution went on. A spy in front of the handler counts the faults, so that
// a resumption in the middle of an instruction (which faults again, or not)
// shows. Each case checks what it left behind with GoogleTest's EXPECTs;
// the fixture FaultHandler runs them under the handler.
//
// The spy and the read-only page are the platform's (fault_spy_posix.cpp,
// fault_spy_win.cpp); the cases are the same instructions on both.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "fault.h"

namespace fault_test {

struct fault_case {
  const char* name;
  void (*run)();
};

// Every case, each checking its own fault count.
std::span<const fault_case> fault_cases();

// Some cases on their own, for the tests that need one kind of fault.
void null_read();
void divide_by_zero();
void breakpoint();
void write_register();

// The spy: put in front of the handler in effect (attach) and taken out
// again (detach); faults_seen counts the faults of the calling thread.
void attach_spy();
void detach_spy();
int faults_seen();

// The resumable faults' fixture: the handler installed, the spy in front
// of it.
class FaultHandler : public testing::Test {
 protected:
  void SetUp() override {
    install_fault_handler();
    attach_spy();
  }
  void TearDown() override {
    detach_spy();
    remove_fault_handler();
  }
};

// A page that can be read but not written, holding a known pattern.
class read_only_page {
 public:
  read_only_page();
  ~read_only_page();
  read_only_page(const read_only_page&) = delete;
  read_only_page& operator=(const read_only_page&) = delete;

  // Null when no page could be had.
  std::uint8_t* data() const { return memory_; }
  bool unchanged() const {
    for (std::size_t i = 0; i < size; ++i) {
      if (memory_[i] != pattern) return false;
    }
    return true;
  }
  static constexpr std::size_t size = 4096;
  static constexpr std::uint8_t pattern = 0x5A;

 private:
  std::uint8_t* memory_ = nullptr;
};

}  // namespace fault_test
