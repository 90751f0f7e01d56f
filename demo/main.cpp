// sprox: placeholder entry point until the engine lands.
#include "corefile/corefile.h"

int main() {
  corefile_mountimage("sprox.dat", 0);
  return 0;
}
