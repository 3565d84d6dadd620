// Strings past ASCII are checked as UTF-8 in blocks, their last partial
// block read in place when the input goes on far enough after them and
// copied out when it does not. Both must agree, whatever the sequence,
// wherever it is cut and wherever it falls in its block.
#include <gtest/gtest.h>

#include <string>

#include "json/reader.h"
#include "json/writer.h"
#include "test_support.h"

namespace tamsel {
namespace {

struct Sequence {
  const char* bytes;
  bool valid;
};

// Each kind of sequence, and the faults a block check could miss at its edges.
const Sequence kSequences[] = {
    {"\xc3\xa9", true},          {"\xe2\x82\xac", true},      {"\xf0\x9f\x98\x80", true},
    {"\xf4\x8f\xbf\xbf", true},  {"\xef\xbf\xbf", true},      {"\xc3", false},
    {"\xe2\x82", false},         {"\xf0\x9f\x98", false},     {"\xff", false},
    {"\xc0\xaf", false},         {"\xed\xa0\x80", false},     {"\xf4\x90\x80\x80", false},
    {"\x80", false},             {"\xc3\xa9\xa9", false},     {"\xe0\x80\x80", false},
};

// Whether `payload` reads; when it does not, `message` says why and where.
bool reads(const std::string& payload, std::string* message) {
  json::ParseOutcome parsed = tamsel::testing::read_rows(payload);
  if (!parsed.ok()) *message = json::describe(parsed.error());
  return parsed.ok();
}

TEST(ShortStrings, AreValidatedAlikeWithAndWithoutRoomAfter) {
  // Lengths before the sequence put it at every place of a 16- and a
  // 32-byte block, in the first, second and third block; a non-ASCII
  // character first makes every block of the string one to check.
  for (const char* lead : {"", "\xc3\xa9"}) {
    for (const Sequence& seq : kSequences) {
      for (size_t before = 0; before < 70; ++before) {
        const std::string content = lead + std::string(before, 'a') + seq.bytes;
        // The string last in the input, then followed by 36 bytes of it.
        const std::string tight = "[{\"s\":\"" + content + "\"}]";
        const std::string roomy = "[{\"s\":\"" + content + "\",\"t\":\"0123456789abcdef0123456789\"}]";
        std::string tight_message, roomy_message;
        const bool tight_ok = reads(tight, &tight_message);
        const bool roomy_ok = reads(roomy, &roomy_message);
        const std::string where = std::string(lead) + " " + std::to_string(before);
        EXPECT_EQ(tight_ok, seq.valid) << where << " " << tight_message;
        EXPECT_EQ(roomy_ok, seq.valid) << where << " " << roomy_message;
        // The same failure at the same place either way.
        EXPECT_EQ(tight_message, roomy_message) << where;
        if (!seq.valid) {
          EXPECT_NE(tight_message.find("invalid unicode code point"), std::string::npos) << tight_message;
        }
      }
    }
  }
}

// As member names and as strings with escapes, which take other paths.
TEST(ShortStrings, AsNamesAndWithEscapesToo) {
  for (const Sequence& seq : kSequences) {
    for (const std::string& payload : {"[{\"" + std::string(seq.bytes) + "\":1,\"t\":\"0123456789abcdef\"}]",
                                       "[{\"s\":\"\\n" + std::string(seq.bytes) + "\",\"t\":\"0123456789abcdef\"}]",
                                       "[{\"s\":\"\\u00e9" + std::string(seq.bytes) + "\"}]"}) {
      std::string message;
      EXPECT_EQ(reads(payload, &message), seq.valid) << payload << " " << message;
    }
  }
}

}  // namespace
}  // namespace tamsel
