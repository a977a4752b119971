// The resumable faults, shared by the crash handler's tests on both
// platforms (see fault_cases.h).
#include "fault_cases.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>

namespace fault_test {

#if defined(__x86_64__)

namespace {

// Values hidden from the optimiser.
volatile std::uintptr_t null_address = 0;
volatile std::uintptr_t non_canonical_address = 0x8000000000000000u;

// Counts the faults of a scope.
class expect_faults {
 public:
  explicit expect_faults(int count) : count_(count), before_(faults_seen()) {}
  ~expect_faults() { EXPECT_EQ(faults_seen() - before_, count_) << "faults"; }
  expect_faults(const expect_faults&) = delete;
  expect_faults& operator=(const expect_faults&) = delete;

 private:
  int count_;
  int before_;
};

}  // namespace

void null_read() {
  expect_faults faults(1);
  std::uint64_t value = 0x1122334455667788u;
  int after = 0;
  std::uintptr_t p = null_address;
  asm volatile("movq (%[p]), %[v]\n\tmovl $1, %[after]"
               : [v] "+r"(value), [after] "=m"(after)
               : [p] "r"(p)
               : "memory");
  EXPECT_EQ(value, 0x1122334455667788u);
  EXPECT_EQ(after, 1);
}

static void read_with_disp32() {
  expect_faults faults(1);
  std::uint32_t value = 0xCAFEu;
  int after = 0;
  std::uintptr_t p = null_address;
  asm volatile("movl 0x12340(%[p],%[p],4), %[v]\n\tmovl $1, %[after]"
               : [v] "+r"(value), [after] "=m"(after)
               : [p] "r"(p)
               : "memory");
  EXPECT_EQ(value, 0xCAFEu);
  EXPECT_EQ(after, 1);
}

static void read_moffs64() {
  expect_faults faults(1);
  std::uint64_t value = 77;
  int after = 0;
  asm volatile("movabsq 0x10, %%rax\n\tmovl $1, %[after]"
               : "+a"(value), [after] "=m"(after)
               :
               : "memory");
  EXPECT_EQ(value, 77u);
  EXPECT_EQ(after, 1);
}

static void read_non_canonical() {
  expect_faults faults(1);
  std::uint64_t value = 5;
  int after = 0;
  std::uintptr_t p = non_canonical_address;
  asm volatile("movq (%[p]), %[v]\n\tmovl $1, %[after]"
               : [v] "+r"(value), [after] "=m"(after)
               : [p] "r"(p)
               : "memory");
  EXPECT_EQ(value, 5u);
  EXPECT_EQ(after, 1);
}

static void sse_read() {
  expect_faults faults(1);
  alignas(16) std::uint8_t out[16];
  std::memset(out, 0x33, sizeof out);
  int after = 0;
  std::uintptr_t p = null_address;
  asm volatile(
      "movdqu %[out], %%xmm0\n\t"
      "movdqu (%[p]), %%xmm0\n\t"
      "movl $1, %[after]\n\t"
      "movdqu %%xmm0, %[out]"
      : [out] "+m"(out), [after] "=m"(after)
      : [p] "r"(p)
      : "xmm0", "memory");
  for (std::uint8_t byte : out) EXPECT_EQ(byte, 0x33);
  EXPECT_EQ(after, 1);
}

void write_register() {
  expect_faults faults(1);
  read_only_page page;
  ASSERT_NE(page.data(), nullptr);
  int after = 0;
  std::uint64_t value = 0;
  asm volatile("movq %[v], 8(%[p])\n\tmovl $1, %[after]"
               : [after] "=m"(after)
               : [p] "r"(page.data()), [v] "r"(value)
               : "memory");
  EXPECT_TRUE(page.unchanged());
  EXPECT_EQ(after, 1);
}

static void write_immediates() {
  expect_faults faults(6);
  read_only_page page;
  ASSERT_NE(page.data(), nullptr);
  int after = 0;
  asm volatile(
      "movl $0x11223344, 0x100(%[p])\n\t"  // C7 /0 with disp32 and imm32
      "movw $0x1234, 0x10(%[p])\n\t"       // 66 C7 /0 imm16
      "movb $1, (%[p])\n\t"                // C6 /0 imm8
      "addq $0x12345678, 0x200(%[p])\n\t"  // REX.W 81 /0 imm32
      "testl $0x12345678, 0x10(%[z])\n\t"  // F7 /0 imm32, a read through null
      "lock incl 0x20(%[p])\n\t"
      "movl $1, %[after]"
      : [after] "=m"(after)
      : [p] "r"(page.data()), [z] "r"(null_address)
      : "memory", "cc");
  EXPECT_TRUE(page.unchanged());
  EXPECT_EQ(after, 1);
}

void divide_by_zero() {
  expect_faults faults(1);
  std::uint64_t rax = 100, rdx = 7;
  std::uint64_t divisor = 0;
  int after = 0;
  asm volatile("divq %[d]\n\tmovl $1, %[after]"
               : "+a"(rax), "+d"(rdx), [after] "=m"(after)
               : [d] "r"(divisor)
               : "cc", "memory");
  EXPECT_EQ(rax, 100u);
  EXPECT_EQ(rdx, 7u);
  EXPECT_EQ(after, 1);
}

static void divide_overflow() {
  expect_faults faults(1);
  // INT_MIN / -1 does not fit: the same fault as a division by zero.
  std::uint32_t eax = static_cast<std::uint32_t>(INT_MIN), edx = 0xFFFFFFFFu;
  std::int32_t divisor = -1;
  int after = 0;
  asm volatile("idivl %[d]\n\tmovl $1, %[after]"
               : "+a"(eax), "+d"(edx), [after] "=m"(after)
               : [d] "r"(divisor)
               : "cc", "memory");
  EXPECT_EQ(eax, static_cast<std::uint32_t>(INT_MIN));
  EXPECT_EQ(edx, 0xFFFFFFFFu);
  EXPECT_EQ(after, 1);
}

void breakpoint() {
  expect_faults faults(1);
  std::uint64_t value = 42;
  int after = 0;
  asm volatile("int3\n\tmovl $1, %[after]" : "+r"(value), [after] "=m"(after) : : "memory");
  EXPECT_EQ(value, 42u);
  EXPECT_EQ(after, 1);
}

static void undefined_instruction() {
  expect_faults faults(1);
  int after = 0;
  asm volatile("ud2\n\tmovl $1, %[after]" : [after] "=m"(after) : : "memory");
  EXPECT_EQ(after, 1);
}

static void privileged_instruction() {
  expect_faults faults(1);
  int after = 0;
  asm volatile("hlt\n\tmovl $1, %[after]" : [after] "=m"(after) : : "memory");
  EXPECT_EQ(after, 1);
}

std::span<const fault_case> fault_cases() {
  static const fault_case cases[] = {
      {"null_read", null_read},
      {"read_with_disp32", read_with_disp32},
      {"read_moffs64", read_moffs64},
      {"read_non_canonical", read_non_canonical},
      {"sse_read", sse_read},
      {"write_register", write_register},
      {"write_immediates", write_immediates},
      {"divide_by_zero", divide_by_zero},
      {"divide_overflow", divide_overflow},
      {"breakpoint", breakpoint},
      {"undefined_instruction", undefined_instruction},
      {"privileged_instruction", privileged_instruction},
  };
  return cases;
}

#else

std::span<const fault_case> fault_cases() { return {}; }

#endif

}  // namespace fault_test
