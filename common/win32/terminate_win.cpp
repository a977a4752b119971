// The terminate handler of the Windows programs. libstdc++'s own prints the
// type of an uncaught exception through its demangler, some 45 KB of code
// in a program of a few hundred; the programs have no console to print to,
// so ending at once is all it could do anyway. The programs link it ahead of
// the library's (windows_program in common/CMakeLists.txt).
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() {
  std::abort();
}
}  // namespace __gnu_cxx
