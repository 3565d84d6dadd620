// columnarize [FILE]: reads a row-oriented JSON document from FILE (standard
// input when absent or "-") and writes its columnar form to standard output.
// A rejected document prints the failure message on standard error and exits
// with status 1; an internal fault or exhausted memory exits with status 2.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "support/fault.h"
#include "transform/columnarize.h"

namespace {

bool read_all(std::FILE* in, std::string& into) {
  char buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) into.append(buffer, n);
  return std::ferror(in) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2) {
    std::fprintf(stderr, "usage: %s [FILE]\n", argv[0]);
    return 2;
  }
  std::string payload;
  const char* path = argc == 2 ? argv[1] : "-";
  std::FILE* in = std::strcmp(path, "-") == 0 ? stdin : std::fopen(path, "rb");
  if (in == nullptr) {
    std::fprintf(stderr, "%s: cannot open %s: %s\n", argv[0], path, std::strerror(errno));
    return 2;
  }
  bool read_ok = read_all(in, payload);
  if (in != stdin) std::fclose(in);
  if (!read_ok) {
    std::fprintf(stderr, "%s: cannot read %s\n", argv[0], path);
    return 2;
  }

  try {
    tamsel::TransformOutcome outcome = tamsel::columnarize_json(payload);
    if (!outcome.ok()) {
      std::fprintf(stderr, "%s\n", outcome.message().c_str());
      return 1;
    }
    const auto& output = outcome.output();
    if (std::fwrite(output.data(), 1, output.size(), stdout) != output.size() ||
        std::fputc('\n', stdout) == EOF || std::fflush(stdout) != 0) {
      std::fprintf(stderr, "%s: cannot write output\n", argv[0]);
      return 2;
    }
    return 0;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory\n", argv[0]);
  } catch (const tamsel::InternalFault& fault) {
    std::fprintf(stderr, "%s: internal fault: %s\n", argv[0],
                 fault.text() ? fault.text()->c_str() : "(no message)");
  }
  return 2;
}
