// Every wide-word kernel against the portable one: the string scan with
// every byte value at every place of inputs that end at, before and after
// the kernels' block sizes; the UTF-8 check with each kind of malformed
// sequence at every place; and whole documents read by each kernel's
// reader. Kernels the processor lacks are skipped here (a run of the whole
// suite forced to one fails plainly instead: per_kernel_main.cpp).
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "hostile_payloads.h"
#include "json/byte_buffer.h"
#include "json/kernel.h"
#include "json/writer.h"

namespace tamsel::json {

// Names the kernel in the names and messages of parametrised tests.
void PrintTo(Kernel kernel, std::ostream* os) { *os << kernel_name(kernel); }

namespace {

std::vector<Kernel> wide_kernels() {
  std::vector<Kernel> out;
  for (Kernel k : kKernels) {
    if (k != Kernel::portable) out.push_back(k);
  }
  return out;
}

class KernelAgainstPortable : public ::testing::TestWithParam<Kernel> {
 protected:
  void SetUp() override {
    if (!kernel_available(GetParam())) GTEST_SKIP() << kernel_name(GetParam()) << " is not available here";
  }
};

struct ScanResult {
  size_t stop;
  bool high;
};

ScanResult scan(Kernel kernel, const std::string& s) {
  bool high = false;
  const char* stop = kernel_entry(kernel).find_string_special(s.data(), s.data() + s.size(), high);
  return {static_cast<size_t>(stop - s.data()), high};
}

// Empty when the kernel scans `s` as the portable one does: the same stop;
// `high` set when a byte of 0x80 or above lies before the stop, and set
// otherwise only by one after it. Else what differs.
std::string scan_difference(Kernel kernel, const std::string& s) {
  ScanResult want = scan(Kernel::portable, s);
  ScanResult got = scan(kernel, s);
  if (got.stop != want.stop) return "stops at " + std::to_string(got.stop) + ", not " + std::to_string(want.stop);
  if (want.high && !got.high) return "misses a high byte before the stop";
  if (got.high && !want.high) {
    bool high_after = false;
    for (size_t i = got.stop; i < s.size(); ++i) high_after |= static_cast<unsigned char>(s[i]) >= 0x80;
    if (!high_after) return "reports a high byte where there is none";
  }
  return {};
}

#define EXPECT_SAME_SCAN(kernel, s)                              \
  do {                                                           \
    std::string difference = scan_difference(kernel, s);         \
    ASSERT_EQ(difference, "") << ::testing::PrintToString(s);    \
  } while (0)

TEST_P(KernelAgainstPortable, ScanFindsEveryByteValueAtEveryPlace) {
  // Lengths up to 130 cross the 8-, 16- and 32-byte steps and their tails
  // several times; the byte under test sits at each place of the first
  // 64 bytes and of the last ones, over plain text and over text with an
  // earlier non-ASCII byte.
  for (size_t length = 1; length <= 130; ++length) {
    std::string s(length, 'a');
    for (size_t at = 0; at < length; ++at) {
      if (at >= 64 && at + 64 < length) continue;
      for (int byte = 0; byte < 256; ++byte) {
        s[at] = static_cast<char>(byte);
        EXPECT_SAME_SCAN(GetParam(), s);
        // A byte of each class after an earlier non-ASCII one.
        bool representative = byte < 0x21 || byte == '"' || byte == '\\' || byte == 0x7f || byte == 0x80 || byte == 0xff;
        if (at > 0 && representative) {
          s[at / 2] = static_cast<char>(0xc3);
          EXPECT_SAME_SCAN(GetParam(), s);
          s[at / 2] = 'a';
        }
      }
      s[at] = 'a';
    }
  }
  EXPECT_SAME_SCAN(GetParam(), std::string());
}

TEST_P(KernelAgainstPortable, ScanStopsAtTheFirstOfSeveralSpecials) {
  for (size_t length = 2; length <= 130; ++length) {
    for (size_t first = 0; first + 1 < length; ++first) {
      std::string s(length, 'x');
      s[first] = '"';
      s[length - 1] = '\\';
      if (first > 0) s[first - 1] = static_cast<char>(0x80);  // a high byte just before the stop
      EXPECT_SAME_SCAN(GetParam(), s);
    }
  }
}

struct Utf8Case {
  const char* name;
  std::string_view bytes;
  bool valid;
};

const Utf8Case kUtf8Cases[] = {
    {"two bytes", "\xc2\x80", true},
    {"two bytes, highest", "\xdf\xbf", true},
    {"three bytes, lowest", "\xe0\xa0\x80", true},
    {"three bytes below the surrogates", "\xed\x9f\xbf", true},
    {"three bytes above the surrogates", "\xee\x80\x80", true},
    {"four bytes, lowest", "\xf0\x90\x80\x80", true},
    {"four bytes, highest", "\xf4\x8f\xbf\xbf", true},
    {"stray continuation", "\x80", false},
    {"stray high continuation", "\xbf", false},
    {"two-byte lead cut short", "\xc2", false},
    {"three-byte lead cut short", "\xe1\x80", false},
    {"four-byte lead cut short", "\xf1\x80\x80", false},
    {"continuation missing, ASCII instead", "\xe1\x80\x41", false},
    {"lead after lead", "\xc2\xc2\x80", false},
    {"too many continuations", "\xc2\x80\x80", false},
    {"overlong two bytes", "\xc0\x80", false},
    {"overlong two bytes, C1", "\xc1\xbf", false},
    {"overlong three bytes", "\xe0\x80\x80", false},
    {"overlong three bytes, highest", "\xe0\x9f\xbf", false},
    {"overlong four bytes", "\xf0\x80\x80\x80", false},
    {"overlong four bytes, highest", "\xf0\x8f\xbf\xbf", false},
    {"surrogate, lowest", "\xed\xa0\x80", false},
    {"surrogate, highest", "\xed\xbf\xbf", false},
    {"above U+10FFFF", "\xf4\x90\x80\x80", false},
    {"F5 lead", "\xf5\x80\x80\x80", false},
    {"FF byte", "\xff", false},
};

TEST_P(KernelAgainstPortable, Utf8CheckAgreesOnEveryKindAtEveryPlace) {
  // Over ASCII text, and over two-byte characters (so that no block is
  // skipped as ASCII), each case at every place of the first 64 bytes and
  // of the last ones, in texts of 0 to 130 bytes.
  for (const Utf8Case& c : kUtf8Cases) {
    for (std::string_view filler : {std::string_view("a"), std::string_view("\xc3\xa9")}) {
      std::string before;
      while (before.size() < 130) before += filler;
      for (size_t length = c.bytes.size(); length <= 130; ++length) {
        for (size_t at = 0; at + c.bytes.size() <= length; ++at) {
          if (at >= 64 && at + c.bytes.size() + 64 < length) continue;
          std::string s = before.substr(0, at);
          if (at % filler.size() != 0) s.back() = 'a';  // no cut character before the case
          s += c.bytes;
          s.resize(length, 'b');
          bool want = kernel_entry(Kernel::portable).is_valid_utf8(s.data(), s.size());
          ASSERT_EQ(want, c.valid) << c.name << ": " << ::testing::PrintToString(s);
          ASSERT_EQ(kernel_entry(GetParam()).is_valid_utf8(s.data(), s.size()), want) << c.name << ": " << ::testing::PrintToString(s);
        }
      }
    }
  }
}

// The rows as written back, or the failure with its position.
std::string outcome_text(const ParseOutcome& outcome) {
  if (!outcome.ok()) return "error: " + describe(outcome.error());
  ByteBuffer out;
  for (const JsonValue& row : outcome.rows().rows()) {
    write_compact(row, out);
    out.push('\n');
  }
  return std::string(out.view());
}

std::vector<std::string> documents_with_strings() {
  std::vector<std::string> docs;
  const std::string_view pieces[] = {"\\\"", "\\n", "\\u00e9", "\\/", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80",
                                     "\xed\xa0\x80", "\xc3", "\x01", "\\x", "\\ud800"};
  for (std::string_view piece : pieces) {
    for (size_t before = 0; before <= 70; ++before) {
      std::string text = std::string(before, 'k') + std::string(piece) + std::string(before % 7, 'v');
      docs.push_back("[{\"" + text + "\":\"" + text + "\"},{\"" + text + "\":1}]");
      docs.push_back("[\"" + text);  // cut short inside the string
    }
  }
  for (const testing::NamedPayload& p : testing::hostile_payloads()) docs.push_back(p.text);
  return docs;
}

TEST_P(KernelAgainstPortable, ReaderGivesTheSameRowsAndFailures) {
  for (const std::string& doc : documents_with_strings()) {
    std::string want = outcome_text(kernel_entry(Kernel::portable).read_rows(doc, nullptr, nullptr));
    ASSERT_EQ(outcome_text(kernel_entry(GetParam()).read_rows(doc, nullptr, nullptr)), want) << ::testing::PrintToString(doc);
  }
}

INSTANTIATE_TEST_SUITE_P(WideKernels, KernelAgainstPortable, ::testing::ValuesIn(wide_kernels()),
                         [](const auto& info) { return std::string(kernel_name(info.param)); });

}  // namespace
}  // namespace tamsel::json
