#include "driver/driver.hpp"

int main(int argc, char** argv) {
  return run_ofb2bmp(argc, argv);
}
