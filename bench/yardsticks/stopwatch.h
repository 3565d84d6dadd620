// Timing helpers shared by the yardsticks.
#pragma once

#include <chrono>

namespace bench {

class Stopwatch {
 public:
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Makes the optimizer assume the pointed-to memory is read.
inline void keep(const void* p) { asm volatile("" : : "r"(p) : "memory"); }

}  // namespace bench
