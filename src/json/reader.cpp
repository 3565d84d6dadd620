// The reader's entry point. The reader itself is reader_generic.h, compiled
// once per kernel (kernels/<name>.cpp); a document is read by the active
// kernel's, chosen when the library was loaded (kernel.cpp).
#include "json/reader.h"

#include "json/kernel.h"

namespace tamsel::json {

ParseOutcome parse_row_array(std::string_view input, RowVisitor& visitor, JsonDocument& document) {
  return active_kernel_entry().read_rows(input, &visitor, &document);
}

}  // namespace tamsel::json
