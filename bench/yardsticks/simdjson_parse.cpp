// The simdjson yardstick: DOM parse only, with one reused parser, as simdjson
// is meant to be used. The padded copy of the input and the parser's first
// allocation happen before the clock starts.
#include <simdjson.h>

#include "yardsticks/stopwatch.h"
#include "yardsticks/yardsticks.h"

double bench_simdjson_parse(const char* data, size_t size, int repeats) {
  simdjson::padded_string padded(data, size);
  simdjson::dom::parser parser;
  if (parser.parse(padded).error() != simdjson::SUCCESS) return -1.0;
  bench::Stopwatch watch;
  for (int i = 0; i < repeats; ++i) {
    simdjson::dom::element root;
    if (parser.parse(padded).get(root) != simdjson::SUCCESS) return -1.0;
    bench::keep(&root);
  }
  return watch.seconds();
}
