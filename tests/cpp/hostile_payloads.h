// Payloads that reach every kind of outcome of the transform, for the tests
// that run it under pressure (allocation failures, threads): small and large
// results, results written past their size estimate, every failure kind of
// the reader and of the transform, deep nesting and very many keys.
#pragma once

#include <string>
#include <vector>

namespace tamsel::testing {

struct NamedPayload {
  std::string name;
  std::string text;
  bool large = false;
  bool valid = false;  // has a result
};

inline std::string repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

// Rows whose output is well over the size written straight into the result.
inline std::string large_rows(int rows) {
  std::string out = "[";
  for (int i = 0; i < rows; ++i) {
    if (i) out += ',';
    const std::string n = std::to_string(i);
    out += R"({"id":)" + n + R"(,"name":"row-)" + n + R"(-with-some-text","flag":true,"v":[)" + n + ",null]}";
  }
  return out + "]";
}

// Numbers written back much longer than they were read (1e15 is written out
// in full), so the output outgrows what the payload suggested.
inline std::string outgrowing_rows(int rows) {
  std::string out = "[";
  for (int i = 0; i < rows; ++i) {
    if (i) out += ',';
    out += i % 2 ? R"({"a":1e15,"b":2e15})" : R"({"a":1e15,"b":3e15})";
  }
  return out + "]";
}

inline std::string distinct_keys(int keys) {
  std::string out = "[{";
  for (int i = 0; i < keys; ++i) {
    if (i) out += ',';
    out += "\"k" + std::to_string(i) + "\":" + std::to_string(i);
  }
  return out + "}]";
}

inline std::vector<NamedPayload> hostile_payloads() {
  return {
      {"small", R"([{"a":1,"b":"x","c":null},{"a":1,"b":"y\u00e9","d":[1,{"e":2.5}]}])", false, true},
      {"empty_rows", "[]", false, true},
      {"large_output", large_rows(3000), true, true},
      {"outgrows_estimate", outgrowing_rows(6000), true, true},
      // As deep as the reader goes.
      {"deep_nesting", "[{\"a\":" + repeat("[", 125) + "1" + repeat("]", 125) + "}]", false, true},
      {"distinct_keys_100000", distinct_keys(100000), true, true},
      // Every failure of the reader.
      {"empty", ""},
      {"eof_value", "[1,"},
      {"eof_list", "[1"},
      {"eof_object", R"([{"a":1)"},
      {"eof_string", R"(["abc)"},
      {"expected_value", "[x]"},
      {"expected_ident", "[nul]"},
      {"expected_comma_bracket", "[1 2]"},
      {"expected_comma_brace", R"([{"a":1 "b":2}])"},
      {"expected_colon", R"([{"a" 1}])"},
      {"key_not_string", "[{1:2}]"},
      {"trailing_comma", "[1,]"},
      {"trailing_characters", "[] x"},
      {"recursion_limit", repeat("[", 200)},
      {"invalid_number", "[01]"},
      {"number_out_of_range", "[1e400]"},
      {"control_character", "[\"a\x01\"]"},
      {"invalid_escape", R"(["\q"])"},
      {"lone_surrogate", R"(["\udc00"])"},
      {"unexpected_end_of_hex_escape", R"(["\ud800x"])"},
      {"invalid_code_point", "[\"\xff\"]"},
      {"not_an_array", R"({"a":"a long enough string that is kept"})"},
      {"top_level_string", R"("a long enough string that is kept")"},
      // Every failure of the transform.
      {"row_not_object", R"([{"a":1},[1,2,{"b":"a long enough string"}]])"},
      {"row_is_number", "[1]"},
  };
}

}  // namespace tamsel::testing
