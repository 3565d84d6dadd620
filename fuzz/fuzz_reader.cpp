// Fuzzes the reader and the compact writer. A failure must carry a known
// message and a position inside the input; every accepted document must hold
// well-formed values; every value must be written exactly as the reference
// text gives it, and that text must read back to the same values and be
// written again unchanged; and the reader of the kernel in use must agree
// with the portable one.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "json/reader.h"
#include "properties.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return tamsel::fuzz::check_forced_kernel(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  tamsel::fuzz::Checker check(input);
  tamsel::json::ParseOutcome parsed = tamsel::fuzz::read_document(input);
  tamsel::fuzz::check_same_as_portable(input, parsed, check);
  if (!parsed.ok()) {
    tamsel::fuzz::check_reader_failure(parsed.error(), check);
    return 0;
  }
  for (const tamsel::json::JsonValue& row : parsed.rows().rows()) tamsel::fuzz::check_value(row, 2, check);
  tamsel::fuzz::check_written_form(parsed.rows().rows(), check);
  tamsel::fuzz::check_write_read_back(parsed.rows().rows(), check);
  return 0;
}
