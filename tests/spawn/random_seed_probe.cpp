// Prints four device seeds, one per line in hexadecimal: the seeds of two runs
// are compared by seeds_between_runs.cmake, since a runtime whose random device
// restarts from a fixed state gives each process the same sequence.
#include <cstdio>

#include "src/spawn/random_detail.h"

int main() {
  for (int i = 0; i < 4; ++i)
    std::printf("%08x\n", static_cast<unsigned>(rebound::detail::DeviceSeed()));
  return 0;
}
