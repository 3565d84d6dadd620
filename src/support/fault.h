// Internal faults: broken invariants inside the module.
//
// Input problems are never faults; they travel as values (JsonError, failure
// messages). A fault is thrown as `InternalFault`, reported on standard error
// at the point where it is raised, and contained only by the module surface.
#pragma once

#include <optional>
#include <source_location>
#include <string>
#include <string_view>

namespace tamsel {

class InternalFault {
 public:
  explicit InternalFault(std::optional<std::string> text) : text_(std::move(text)) {}

  // The fault's text, if it carries one.
  const std::optional<std::string>& text() const noexcept { return text_; }

 private:
  std::optional<std::string> text_;
};

// Writes the fault report (thread, source location, text) to standard error.
void report_fault(const std::optional<std::string>& text, const std::source_location& where) noexcept;

// Reports and throws a fault carrying `text`.
[[noreturn]] void raise_fault(std::string_view text,
                              std::source_location where = std::source_location::current());

// Reports and throws a fault that carries no text.
[[noreturn]] void raise_fault_without_text(
    std::source_location where = std::source_location::current());

// Throws a fault with `text` without writing a report (used when a fault that
// was already reported once is resumed).
[[noreturn]] void resume_fault(std::string text);

// What an exception caught by a containment stands for.
struct CaughtFault {
  enum class Kind {
    internal_fault,  // an InternalFault, reported where it was raised
    out_of_memory,   // std::bad_alloc, not reported: each containment says how it shows
    foreign,         // any other exception, reported now as a fault
  };
  Kind kind;
  std::optional<std::string> text;  // the fault's text; none for out_of_memory
};

// Classifies the exception being handled; call only inside a catch block.
// A foreign exception is reported as a fault at `where`, with its what() as
// the text when it has one. May throw std::bad_alloc while copying a text.
CaughtFault classify_current_exception(std::source_location where = std::source_location::current());

}  // namespace tamsel
