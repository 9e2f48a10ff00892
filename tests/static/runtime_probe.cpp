// A console program that uses the C++ library, linked as setup.exe is: the
// runtime check of setup.exe's link map must reject its map.
#include <string>

int main(int argc, char**) {
  std::wstring text(static_cast<size_t>(argc), L'x');
  return static_cast<int>(text.size());
}
