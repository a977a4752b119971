// The runtime's throw helpers, as the shipped Windows programs link them
// (windows_program in common/CMakeLists.txt). libstdc++ keeps them in one
// object whose exception classes carry their message in strings of the
// library's own, which brings two whole string implementations, some 80 KB,
// into programs that never catch these exceptions: there, such an exception
// ends the program through std::terminate, as these do at once. The
// exceptions without a message are thrown as before; the image decoder
// catches std::bad_alloc.
#include <exception>
#include <new>
#include <typeinfo>

namespace std {

void __throw_bad_exception() {
  throw bad_exception();
}
void __throw_bad_alloc() {
  throw bad_alloc();
}
void __throw_bad_array_new_length() {
  throw bad_array_new_length();
}
void __throw_bad_cast() {
  throw bad_cast();
}
void __throw_bad_typeid() {
  throw bad_typeid();
}

void __throw_logic_error(const char*) {
  terminate();
}
void __throw_domain_error(const char*) {
  terminate();
}
void __throw_invalid_argument(const char*) {
  terminate();
}
void __throw_length_error(const char*) {
  terminate();
}
void __throw_out_of_range(const char*) {
  terminate();
}
void __throw_out_of_range_fmt(const char*, ...) {
  terminate();
}
void __throw_runtime_error(const char*) {
  terminate();
}
void __throw_range_error(const char*) {
  terminate();
}
void __throw_overflow_error(const char*) {
  terminate();
}
void __throw_underflow_error(const char*) {
  terminate();
}
void __throw_system_error(int) {
  terminate();
}

}  // namespace std
