// Replacements for parts of the C++ runtime that would make setup.exe much
// larger and that it never needs. Linked into the exe only, never into setupcore.
//
// No exception is caught anywhere in the program, so an exception that the
// runtime throws ends the process through terminate and abort. These
// definitions end it with abort right where the runtime would throw:
//  - the verbose terminate handler prints the exception's type and so pulls in
//    the demangler (about 40 KB);
//  - the runtime's throw helpers build std::logic_error and friends, which
//    pull in the copy-on-write and narrow string code and std::random_device
//    (about 80 KB).
// If a new use of the library needs a throw helper that is not defined here,
// the link fails with a duplicate definition: add it below.
#include <stdlib.h>

namespace __gnu_cxx {
void __verbose_terminate_handler() {
  abort();
}
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() {
  abort();
}
void __throw_bad_array_new_length() {
  abort();
}
void __throw_bad_cast() {
  abort();
}
void __throw_bad_exception() {
  abort();
}
void __throw_bad_function_call() {
  abort();
}
void __throw_bad_typeid() {
  abort();
}
void __throw_domain_error(const char*) {
  abort();
}
void __throw_invalid_argument(const char*) {
  abort();
}
void __throw_length_error(const char*) {
  abort();
}
void __throw_logic_error(const char*) {
  abort();
}
void __throw_out_of_range(const char*) {
  abort();
}
void __throw_out_of_range_fmt(const char*, ...) {
  abort();
}
void __throw_overflow_error(const char*) {
  abort();
}
void __throw_range_error(const char*) {
  abort();
}
void __throw_runtime_error(const char*) {
  abort();
}
void __throw_underflow_error(const char*) {
  abort();
}
}  // namespace std
