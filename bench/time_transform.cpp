// time_transform FILE [REPEATS]: median throughput of columnarize_json on one
// file, in MB/s of input. A quick native probe used while profiling.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "transform/columnarize.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [REPEATS]\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string payload = ss.str();
  int repeats = argc > 2 ? std::atoi(argv[2]) : 9;
  std::vector<double> seconds;
  size_t out_size = 0;
  for (int i = 0; i < repeats; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    tamsel::TransformOutcome outcome = tamsel::columnarize_json(payload);
    auto t1 = std::chrono::steady_clock::now();
    out_size = outcome.ok() ? outcome.output().size() : 0;
    seconds.push_back(std::chrono::duration<double>(t1 - t0).count());
  }
  std::sort(seconds.begin(), seconds.end());
  double median = seconds[seconds.size() / 2];
  std::printf("%s: %.1f MB in, %.1f MB out, median %.2f ms, %.0f MB/s\n", argv[1], payload.size() / 1e6,
              out_size / 1e6, median * 1e3, payload.size() / 1e6 / median);
}
