// Random documents, each built twice: as payload text, with every string in a
// random mix of its escape forms and numbers in many literal forms, and as
// values of the tests' own (reference_model.h). The transform's output must
// be, byte for byte, what the restated rules give for those values; the
// library's reader, equality and writer are not used to judge it.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "reference_model.h"
#include "transform/columnarize.h"

namespace tamsel {
namespace {

using reference::Value;

class DocumentGenerator {
 public:
  explicit DocumentGenerator(uint32_t seed) : rng_(seed) {}

  // A payload, and the rows it holds. With `stray` set, one row is not an
  // object.
  struct Document {
    std::string payload;
    std::vector<Value> rows;
    std::optional<Value> stray;
  };

  Document document() {
    Document doc;
    const int row_count = pick(0, 7);
    // Each name has a few values that rows share, so constants arise.
    std::vector<std::pair<std::string, std::vector<Value>>> palette;
    for (int n = pick(1, 7); n > 0; --n) {
      std::vector<Value> values;
      if (chance(40)) {
        values = number_family();
      } else {
        for (int k = pick(1, 2); k > 0; --k) values.push_back(value(1));
      }
      if (chance(20)) values.push_back(Value());
      palette.emplace_back(kNames[pick(0, kNameCount - 1)], std::move(values));
    }
    for (int r = 0; r < row_count; ++r) {
      Value row = Value::object();
      for (int m = pick(0, 6); m > 0; --m) {
        const auto& [name, values] = palette[static_cast<size_t>(pick(0, static_cast<int>(palette.size()) - 1))];
        row.insert(name, chance(85) ? values[static_cast<size_t>(pick(0, static_cast<int>(values.size()) - 1))] : value(1));
      }
      if (chance(5)) {  // past the size at which objects get a hash index
        for (int k = 0; k < 36; ++k) row.insert(std::string("w").append(std::to_string(k)), number());
      }
      doc.rows.push_back(std::move(row));
    }
    if (!doc.rows.empty() && chance(4)) {
      doc.stray = value(1);
      if (doc.stray->kind == Value::Kind::object) doc.stray = Value::array();
      doc.rows.insert(doc.rows.begin() + pick(0, static_cast<int>(doc.rows.size()) - 1), *doc.stray);
    }
    doc.payload = space() + "[";
    for (size_t r = 0; r < doc.rows.size(); ++r) doc.payload += (r ? "," : "") + space() + written(doc.rows[r]) + space();
    doc.payload += "]" + space();
    return doc;
  }

 private:
  static constexpr const char* kNames[] = {"a", "b", "id", "", "/", "\f", "q\"", "\\", "t\tn\n", "\x01\x1f",
                                           "\xc3\xa9", "\xf0\x9f\x98\x80", "created_at_time", "created_at_time_"};
  static constexpr int kNameCount = sizeof kNames / sizeof kNames[0];

  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool chance(int percent) { return pick(1, 100) <= percent; }

  std::string space() {
    static const char* kSpaces[] = {" ", "\n", "\t", "\r\n "};
    return chance(10) ? kSpaces[pick(0, 3)] : "";
  }

  std::string digits(int count) {
    std::string out;
    for (int k = 0; k < count; ++k) out += static_cast<char>('0' + pick(k == 0 && count > 1 ? 1 : 0, 9));
    return out;
  }

  // A number from a literal of one of many forms, read as the restated rule
  // reads it.
  Value number() {
    for (;;) {
      std::string literal = chance(30) ? "-" : "";
      switch (pick(0, 5)) {
        case 0: literal += digits(pick(1, 22)); break;  // integers, in range or past it
        case 1: {
          static const char* kEdges[] = {"18446744073709551615", "18446744073709551616", "9223372036854775808",
                                         "9223372036854775809", "9007199254740993", "0", "3e23", "1e16", "1e15",
                                         "0.000001", "0.00001", "1.5e-7", "1E2", "5e-324", "1e-400", "1.7976931348623157e308",
                                         "2.2250738585072014e-308", "123456789012345.6", "0.1", "100", "1e0"};
          literal += kEdges[pick(0, sizeof kEdges / sizeof kEdges[0] - 1)];
          break;
        }
        default: {
          // Up to 19 significant digits, so the significand holds them all.
          const int whole = pick(1, 10);
          const int fraction = pick(0, 19 - whole);
          literal += chance(20) ? "0" : digits(whole);
          if (fraction > 0) literal += "." + digits(fraction);
          if (fraction == 0 || chance(50)) {
            int exponent = pick(-340, 320);
            literal += chance(50) ? "e" : "E";
            literal += exponent < 0 ? "-" : (chance(50) ? "+" : "");
            literal += (chance(10) ? "0" : "") + std::to_string(exponent < 0 ? -exponent : exponent);
          }
        }
      }
      if (std::optional<Value> v = reference::read_number(literal)) return *v;
    }
  }

  // Literals of equal value in several variants and forms: 2, 2.0, 20e-1, ...
  std::vector<Value> number_family() {
    const std::string k = std::to_string(pick(0, 3));
    const std::string sign = chance(25) ? "-" : "";
    std::vector<std::string> forms = {sign + k, sign + k + ".0", sign + k + "e0", sign + (k == "0" ? "0.0e5" : k + "0e-1"), sign + k + ".000E+0"};
    std::vector<Value> family;
    for (int n = pick(1, 3); n > 0; --n) family.push_back(*reference::read_number(forms[static_cast<size_t>(pick(0, 4))]));
    return family;
  }

  std::string content() {
    static const char* kUnits[] = {"a", "b", " ", "/", "\"", "\\", "\x7f", "\xc3\xa9", "\xf0\x9f\x98\x80"};
    std::string out;
    for (int n = pick(0, 5); n > 0; --n) {
      if (chance(40)) {
        out += static_cast<char>(pick(0, 0x1f));
      } else {
        out += kUnits[pick(0, sizeof kUnits / sizeof kUnits[0] - 1)];
      }
    }
    return out;
  }

  Value value(int depth) {
    switch (pick(0, depth < 3 ? 9 : 6)) {
      case 0: return Value();
      case 1: return Value::boolean(chance(50));
      case 2:
      case 3: return number();
      case 4:
      case 5:
      case 6: return Value::string(content());
      case 7:
      case 8: {
        Value v = Value::array();
        for (int n = pick(0, 3); n > 0; --n) v.items.push_back(value(depth + 1));
        return v;
      }
      default: {
        Value v = Value::object();
        for (int n = pick(0, 4); n > 0; --n) v.insert(kNames[pick(0, 4)], value(depth + 1));
        return v;
      }
    }
  }

  // \uXXXX, each hexadecimal letter in either case.
  std::string hex_unit(uint32_t unit) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04x", static_cast<unsigned>(unit));
    std::string out = "\\u";
    for (int k = 0; k < 4; ++k) out += chance(50) ? digits[k] : static_cast<char>(std::toupper(digits[k]));
    return out;
  }

  // `content` in quotes, each character in one of the forms the reader takes.
  std::string quoted(const std::string& content) {
    std::string out = "\"";
    for (size_t i = 0; i < content.size();) {
      const unsigned char lead = static_cast<unsigned char>(content[i]);
      const size_t length = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
      const std::string raw = content.substr(i, length);
      i += length;
      uint32_t cp = length == 1 ? lead : lead & (0xff >> (length + 1));
      for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(raw[k]) & 0x3f);
      std::vector<std::string> forms;
      if (cp >= 0x20 && cp != '"' && cp != '\\') forms.push_back(raw);
      static const std::pair<uint32_t, const char*> kShort[] = {{'"', "\\\""}, {'\\', "\\\\"}, {'/', "\\/"}, {0x08, "\\b"},
                                                                {0x0c, "\\f"}, {0x0a, "\\n"},   {0x0d, "\\r"}, {0x09, "\\t"}};
      for (const auto& [c, escape] : kShort) {
        if (c == cp) forms.push_back(escape);
      }
      if (cp < 0x10000) {
        forms.push_back(hex_unit(cp));
      } else {
        forms.push_back(hex_unit(0xd800 + ((cp - 0x10000) >> 10)) + hex_unit(0xdc00 + ((cp - 0x10000) & 0x3ff)));
      }
      out += forms[static_cast<size_t>(pick(0, static_cast<int>(forms.size()) - 1))];
    }
    return out + "\"";
  }

  // The input text of `v`; now and then a member is preceded by the same
  // name with another value, which it replaces.
  std::string written(const Value& v) {
    switch (v.kind) {
      case Value::Kind::string: return quoted(v.s);
      case Value::Kind::array: {
        std::string out = "[";
        for (size_t k = 0; k < v.items.size(); ++k) out += (k ? "," : "") + space() + written(v.items[k]) + space();
        return out + "]";
      }
      case Value::Kind::object: {
        std::string out = "{";
        for (const auto& [name, value] : v.members) {
          if (out.size() > 1) out += ",";
          if (chance(8)) out += quoted(name) + ":" + written(this->value(2)) + ",";
          out += space() + quoted(name) + space() + ":" + space() + written(value);
        }
        return out + "}";
      }
      case Value::Kind::null:
      case Value::Kind::boolean: return reference::text(v);
      default: return v.literal;
    }
  }

  std::mt19937 rng_;
};

TEST(TransformProperty, OutputIsWhatTheRestatedRulesGive) {
  for (uint32_t seed = 1; seed <= 4000; ++seed) {
    DocumentGenerator::Document doc = DocumentGenerator(seed).document();
    TransformOutcome outcome = columnarize_json(doc.payload);
    if (doc.stray) {
      ASSERT_FALSE(outcome.ok()) << doc.payload;
      Value first_stray;
      for (const Value& row : doc.rows) {
        if (row.kind != Value::Kind::object) {
          first_stray = row;
          break;
        }
      }
      ASSERT_EQ(outcome.message(), "expected a JSON object row, got: " + reference::text(first_stray)) << doc.payload;
      continue;
    }
    ASSERT_TRUE(outcome.ok()) << doc.payload << "\n" << outcome.message();
    ASSERT_EQ(std::string(outcome.output().view()), reference::columnarized(doc.rows)) << doc.payload;
  }
}

}  // namespace
}  // namespace tamsel
