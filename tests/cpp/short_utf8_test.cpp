// Short strings past ASCII are checked as UTF-8 in one 16-byte block when
// the input goes on far enough after them, and byte by byte when it does
// not. Both must agree, whatever the sequence and wherever it is cut.
#include <gtest/gtest.h>

#include <string>

#include "json/reader.h"
#include "json/writer.h"

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
  json::ParseOutcome parsed = json::parse_row_array(payload);
  if (!parsed.ok()) *message = json::describe(parsed.error());
  return parsed.ok();
}

TEST(ShortStrings, AreValidatedAlikeWithAndWithoutRoomAfter) {
  for (const Sequence& seq : kSequences) {
    for (size_t before = 0; before < 16; ++before) {
      const std::string content = std::string(before, 'a') + seq.bytes;
      // The string last in the input, then followed by 20 bytes of it.
      const std::string tight = "[{\"s\":\"" + content + "\"}]";
      const std::string roomy = "[{\"s\":\"" + content + "\",\"t\":\"0123456789abcdef\"}]";
      std::string tight_message, roomy_message;
      const bool tight_ok = reads(tight, &tight_message);
      const bool roomy_ok = reads(roomy, &roomy_message);
      EXPECT_EQ(tight_ok, seq.valid) << before << " " << tight_message;
      EXPECT_EQ(roomy_ok, seq.valid) << before << " " << roomy_message;
      // The same failure at the same place either way.
      EXPECT_EQ(tight_message, roomy_message) << before;
      if (!seq.valid) {
        EXPECT_NE(tight_message.find("invalid unicode code point"), std::string::npos) << tight_message;
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
