// Reading a document: the reader of the active kernel (kernel.h) reads it
// whole; the reader itself is reader_body.inc.
#include "json/reader.h"

#include "json/kernel.h"

namespace tamsel::json {

ParseOutcome parse_row_array(std::string_view input) { return read_rows(active_kernel(), input, nullptr); }

ParseOutcome parse_row_array(std::string_view input, RowVisitor& visitor) {
  return read_rows(active_kernel(), input, &visitor);
}

}  // namespace tamsel::json
