// time_transform FILE [REPEATS] [fresh]: median throughput of columnarize_json
// on one file, in MB/s of input, and where a call's time goes: reading and
// surveying the rows (the Columnarizer) against writing the output, each in
// wall, user and system time and minor page faults. A quick native probe used
// while profiling.
//
// With `fresh`, each call meets memory as a call between other work does:
// the block pool gives back what it keeps and twice the payload is
// allocated, touched and freed first, so the call's large buffers come fresh
// from the kernel.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "json/byte_buffer.h"
#include "support/block_pool.h"
#include "transform/columnarize.h"

namespace {

// Peak resident set size so far, in bytes.
long peak_rss_bytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6) * 1024;
  }
  return 0;
}

struct Sample {
  double wall = 0, user = 0, sys = 0, faults = 0;
};

struct Stopwatch {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  rusage usage = now();
  static rusage now() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u;
  }
  static double seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }
  // The time since the last lap (or the start), and starts the next.
  Sample lap() {
    const auto t = std::chrono::steady_clock::now();
    const rusage u = now();
    Sample s{std::chrono::duration<double>(t - start).count(), seconds(u.ru_utime) - seconds(usage.ru_utime),
             seconds(u.ru_stime) - seconds(usage.ru_stime), static_cast<double>(u.ru_minflt - usage.ru_minflt)};
    start = t;
    usage = u;
    return s;
  }
};

// Allocates, touches and frees `bytes`, as other work between calls does.
void other_work(size_t bytes) {
  char* p = static_cast<char*>(std::malloc(bytes));
  if (p == nullptr) return;
  std::memset(p, 0x5a, bytes);
  asm volatile("" : : "r"(p) : "memory");
  std::free(p);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [REPEATS] [fresh]\n", argv[0]);
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
  const bool fresh = argc > 3 && std::strcmp(argv[3], "fresh") == 0;
  std::vector<double> seconds;
  std::vector<Sample> read_phase, write_phase;
  size_t out_size = 0;
  for (int i = 0; i < repeats; ++i) {
    if (fresh) {
      tamsel::shared_block_pool().release_all();
      other_work(2 * payload.size());
    }
    Stopwatch watch;
    {
      tamsel::Columnarizer columnarizer(payload);
      read_phase.push_back(watch.lap());
      if (columnarizer.failure()) {
        std::fprintf(stderr, "%s\n", columnarizer.failure()->c_str());
        return 1;
      }
      tamsel::json::ByteBuffer out;
      columnarizer.write(out);
      out_size = out.size();
      write_phase.push_back(watch.lap());
    }
    seconds.push_back(read_phase.back().wall + write_phase.back().wall);
    if (i == 0) {
      std::printf("peak extra memory during the first call: %.2fx the payload\n",
                  (peak_rss_bytes() - rss_before) / static_cast<double>(payload.size()));
    }
  }
  const double m = median(seconds);
  std::printf("%s: %.1f MB in, %.1f MB out, median %.2f ms, %.0f MB/s%s\n", argv[1], payload.size() / 1e6,
              out_size / 1e6, m * 1e3, payload.size() / 1e6 / m, fresh ? " (fresh memory)" : "");
  auto report = [](const char* name, const std::vector<Sample>& samples) {
    std::vector<double> wall, user, sys, faults;
    for (const Sample& s : samples) {
      wall.push_back(s.wall);
      user.push_back(s.user);
      sys.push_back(s.sys);
      faults.push_back(s.faults);
    }
    std::printf("  %-12s wall %7.1f ms  user %7.1f ms  sys %7.1f ms  minor faults %7.0f\n", name,
                median(wall) * 1e3, median(user) * 1e3, median(sys) * 1e3, median(faults));
  };
  report("read+survey", read_phase);
  report("write", write_phase);
}
