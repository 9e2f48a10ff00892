// Replaces the C++ runtime's verbose terminate handler, which prints the type of
// an uncaught exception and so pulls the demangler (about 40 KB) into the exe.
// No exception is meant to escape anyway; a GUI process has no console to print to.
#include <stdlib.h>

namespace __gnu_cxx {
void __verbose_terminate_handler() {
  abort();
}
}  // namespace __gnu_cxx
