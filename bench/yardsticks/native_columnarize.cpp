// This project's own transform called directly, without the Python module
// around it: shows what the module's per-call work adds.
#include <string_view>

#include "transform/columnarize.h"
#include "yardsticks/stopwatch.h"
#include "yardsticks/yardsticks.h"

double bench_native_columnarize(const char* data, size_t size, int repeats) {
  bench::Stopwatch watch;
  for (int i = 0; i < repeats; ++i) {
    tamsel::TransformOutcome outcome = tamsel::columnarize_json(std::string_view(data, size));
    if (!outcome.ok()) return -1.0;
    bench::keep(outcome.output().view().data());
  }
  return watch.seconds();
}
