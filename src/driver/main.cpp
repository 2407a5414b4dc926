#include "driver/driver.hpp"

#ifdef __MINGW32__
// The MinGW start-up code would expand '*' and '?' in the arguments; the tool's own file search
// must see them.
extern "C" {
int _dowildcard = 0;
}
#endif

// The build says where an installation puts the program; the Windows zip has no such place.
#ifndef OFB2BMP_INSTALLED_FOLDER
#define OFB2BMP_INSTALLED_FOLDER ""
#endif

int main(int argc, char** argv) {
  return run_ofb2bmp(argc, argv, OFB2BMP_INSTALLED_FOLDER);
}
