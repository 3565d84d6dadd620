// The memcpy yardstick: the cost of touching every input byte once.
#include <cstring>
#include <vector>

#include "yardsticks/stopwatch.h"
#include "yardsticks/yardsticks.h"

double bench_memcpy(const char* data, size_t size, int repeats) {
  std::vector<char> destination(size + 1);
  std::memcpy(destination.data(), data, size);  // fault the pages in, untimed
  bench::Stopwatch watch;
  for (int i = 0; i < repeats; ++i) {
    std::memcpy(destination.data(), data, size);
    bench::keep(destination.data());
  }
  return watch.seconds();
}
