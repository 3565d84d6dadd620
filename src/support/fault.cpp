#include "support/fault.h"

#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "support/os.h"

namespace tamsel {

void report_fault(const std::optional<std::string>& text, const std::source_location& where) noexcept {
  try {
    std::string line = "thread '" + os::current_thread_name() + "' hit an internal fault at " +
                       where.file_name() + ":" + std::to_string(where.line()) + ":" +
                       std::to_string(where.column()) + ":\n" +
                       (text ? *text : std::string("(no message)")) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  } catch (...) {
    // Out of memory while describing a fault: a short fixed line still goes out.
    static const char fallback[] = "internal fault (report could not be formatted)\n";
    std::fwrite(fallback, 1, sizeof fallback - 1, stderr);
  }
}

void raise_fault(std::string_view text, std::source_location where) {
  std::optional<std::string> owned{std::string(text)};
  report_fault(owned, where);
  throw InternalFault(std::move(owned));
}

void raise_fault_without_text(std::source_location where) {
  report_fault(std::nullopt, where);
  throw InternalFault(std::nullopt);
}

void resume_fault(std::string text) { throw InternalFault(std::move(text)); }

CaughtFault classify_current_exception(std::source_location where) {
  try {
    throw;
  } catch (const InternalFault& fault) {
    return CaughtFault{CaughtFault::Kind::internal_fault, fault.text()};
  } catch (const std::bad_alloc&) {
    return CaughtFault{CaughtFault::Kind::out_of_memory, std::nullopt};
  } catch (const std::exception& unexpected) {
    std::optional<std::string> text{unexpected.what()};
    report_fault(text, where);
    return CaughtFault{CaughtFault::Kind::foreign, std::move(text)};
  } catch (...) {
    report_fault(std::nullopt, where);
    return CaughtFault{CaughtFault::Kind::foreign, std::nullopt};
  }
}

}  // namespace tamsel
