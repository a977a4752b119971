// Crash handling in the resume mode: a processor fault that no other code
// handles skips the faulting instruction and execution goes on, silently.
#pragma once

#include <cstddef>
#include <cstdint>

// Installs the process-wide handler in the resume mode and remembers the
// handler that was installed before.
void install_fault_handler();

// Selects the resume mode and clears any registered handler procedure.
void set_error_mode_resume();

// Puts the previous handler back.
void remove_fault_handler();

// Length in bytes of the x86 instruction at code (at most available bytes
// readable), decoded in 32-bit (long_mode false) or 64-bit mode; 0 when the
// bytes are not a valid instruction or run past available.
std::size_t instruction_length(const std::uint8_t* code, std::size_t available, bool long_mode);
