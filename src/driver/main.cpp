#include "driver/driver.hpp"

#ifdef __MINGW32__
// The MinGW start-up code would expand '*' and '?' in the arguments; the tool's own file search
// must see them.
extern "C" {
int _dowildcard = 0;
}
#endif

int main(int argc, char** argv) {
  return run_ofb2bmp(argc, argv);
}
