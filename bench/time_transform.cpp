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

// Peak resident set size so far, in bytes.
static long peak_rss_bytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6) * 1024;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [REPEATS]\n", argv[0]);
    return 2;
  }
  std::string payload;
  {
    std::ifstream in(argv[1], std::ios::binary | std::ios::ate);
    payload.resize(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(payload.data(), static_cast<std::streamsize>(payload.size()));
  }
  long rss_before = peak_rss_bytes();
  int repeats = argc > 2 ? std::atoi(argv[2]) : 9;
  std::vector<double> seconds;
  size_t out_size = 0;
  for (int i = 0; i < repeats; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    tamsel::TransformOutcome outcome = tamsel::columnarize_json(payload);
    auto t1 = std::chrono::steady_clock::now();
    out_size = outcome.ok() ? outcome.output().size() : 0;
    seconds.push_back(std::chrono::duration<double>(t1 - t0).count());
    if (i == 0) {
      std::printf("peak extra memory during the first call: %.2fx the payload\n",
                  (peak_rss_bytes() - rss_before) / static_cast<double>(payload.size()));
    }
  }
  std::sort(seconds.begin(), seconds.end());
  double median = seconds[seconds.size() / 2];
  std::printf("%s: %.1f MB in, %.1f MB out, median %.2f ms, %.0f MB/s\n", argv[1], payload.size() / 1e6,
              out_size / 1e6, median * 1e3, payload.size() / 1e6 / median);
}
