// DLLs from the system folder only.
//
// The programs run from the product's folder, which users and installers
// can write to, and the loader looks in a program's own folder first for
// any DLL that the system does not protect as a known DLL. So the programs
// import only known DLLs statically (kernel32, user32, gdi32, shell32, ole32,
// msvcrt) and load every other DLL through these functions, after
// restrict_library_search (system.h) has narrowed the search for the DLLs
// that those load in turn.
#pragma once

#include <windows.h>

// The DLL `name` (a bare file name) from the system folder, never from the
// program's folder or the current one; nullptr when it cannot be loaded.
// The DLLs it imports are looked for in the system folder too. A DLL that
// the program's manifest names (version 6 of the common controls) comes in
// the version it asks for, side by side, when loaded on a thread with the
// program's own activation context (the main thread), except on systems
// that lack the search flags (below Windows 8 without their update): there
// it is the system folder's. Any thread.
HMODULE load_system_library(const char* name);

// What load_system_library falls back to where the search flags are missing:
// the DLL by its full path in the system folder, its own imports looked for
// in that folder first. Also for tests, which cannot remove the flags.
HMODULE load_system_library_by_path(const char* name);

// Sets target to the function `name` of module (nullptr when module is
// nullptr or lacks it); true when found. F is the function's own pointer
// type, decltype(&::Name), which carries its calling convention.
template <class F>
bool bind_function(HMODULE module, F& target, const char* name) {
  // Through the generic function pointer type, which converts to any other.
  using generic = void (*)();
  target = module ? reinterpret_cast<F>(reinterpret_cast<generic>(GetProcAddress(module, name)))
                  : nullptr;
  return target != nullptr;
}
