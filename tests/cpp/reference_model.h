// Values as the tests build them, apart from the library's value tree, with
// the few rules the tests hold the library to stated again over them: how a
// number literal reads, how values compare, and what the columnar output of
// a list of rows is. Nothing here calls the library.
#pragma once

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "reference_text.h"

namespace tamsel::reference {

struct Value {
  enum class Kind { null, boolean, unsigned_int, negative_int, floating, string, array, object };
  Kind kind = Kind::null;
  bool flag = false;
  uint64_t u = 0;
  int64_t i = 0;
  double d = 0;
  std::string literal;  // a number as it stands in the input
  std::string s;        // a string's content
  std::vector<Value> items;
  std::vector<std::pair<std::string, Value>> members;  // unique names, in insertion order

  static Value boolean(bool b) {
    Value v;
    v.kind = Kind::boolean;
    v.flag = b;
    return v;
  }
  static Value string(std::string content) {
    Value v;
    v.kind = Kind::string;
    v.s = std::move(content);
    return v;
  }
  static Value object() {
    Value v;
    v.kind = Kind::object;
    return v;
  }
  static Value array() {
    Value v;
    v.kind = Kind::array;
    return v;
  }

  bool is_number() const { return kind == Kind::unsigned_int || kind == Kind::negative_int || kind == Kind::floating; }

  const Value* member(std::string_view name) const {
    for (const auto& [key, value] : members) {
      if (key == name) return &value;
    }
    return nullptr;
  }
  // A repeated name keeps its first place and takes the new value.
  void insert(const std::string& name, Value value) {
    for (auto& [key, old] : members) {
      if (key == name) {
        old = std::move(value);
        return;
      }
    }
    members.emplace_back(name, std::move(value));
  }
};

// The double nearest 10^k.
inline double power_of_ten(int k) { return std::strtod(("1e" + std::to_string(k)).c_str(), nullptr); }

// What a float literal with significand `s` and decimal exponent `e` reads
// as: `s` rounded to a double, then scaled one IEEE operation at a time by
// the doubles nearest powers of ten; nothing when it overflows.
inline std::optional<double> scaled(uint64_t s, int64_t e) {
  double x = static_cast<double>(s);
  while (e > 308 || e < -308) {
    if (x == 0) return 0.0;
    if (e >= 0) return std::nullopt;
    x /= 1e308;
    e += 308;
  }
  x = e < 0 ? x / power_of_ten(static_cast<int>(-e)) : x * power_of_ten(static_cast<int>(e));
  if (!std::isfinite(x)) return std::nullopt;
  return x;
}

// The number a well-formed literal reads as (exponents of a few digits
// only), or nothing when it is out of range. Digits go into a 64-bit
// significand while it holds them; integer digits past that raise the
// exponent, fraction digits past it are dropped.
inline std::optional<Value> read_number(const std::string& literal) {
  size_t p = 0;
  const bool negative = literal[0] == '-';
  if (negative) ++p;
  uint64_t s = 0;
  int64_t e = 0;
  auto take = [&s](unsigned d) {
    if (s < 1844674407370955161ULL || (s == 1844674407370955161ULL && d <= 5)) {
      s = s * 10 + d;
      return true;
    }
    return false;
  };
  bool dropped = false, is_float = false;
  for (; p < literal.size() && std::isdigit(static_cast<unsigned char>(literal[p])); ++p) {
    if (dropped || !take(static_cast<unsigned>(literal[p] - '0'))) {
      dropped = true;
      ++e;
    }
  }
  if (p < literal.size() && literal[p] == '.') {
    is_float = true;
    bool fraction_dropped = false;
    for (++p; p < literal.size() && std::isdigit(static_cast<unsigned char>(literal[p])); ++p) {
      if (!fraction_dropped && take(static_cast<unsigned>(literal[p] - '0'))) {
        --e;
      } else {
        fraction_dropped = true;
      }
    }
  }
  if (p < literal.size() && (literal[p] == 'e' || literal[p] == 'E')) {
    is_float = true;
    e += std::stoll(literal.substr(p + 1));
  }
  Value v;
  v.literal = literal;
  if (!is_float && !dropped) {
    if (!negative) {
      v.kind = Value::Kind::unsigned_int;
      v.u = s;
      return v;
    }
    if (s >= 1 && s <= 9223372036854775808ULL) {
      v.kind = Value::Kind::negative_int;
      v.i = static_cast<int64_t>(0 - s);
      return v;
    }
    v.kind = Value::Kind::floating;
    v.d = -static_cast<double>(s);
    return v;
  }
  std::optional<double> x = scaled(s, e);
  if (!x) return std::nullopt;
  v.kind = Value::Kind::floating;
  v.d = negative ? -*x : *x;
  return v;
}

// The compact text of `v`.
inline std::string text(const Value& v) {
  switch (v.kind) {
    case Value::Kind::null: return "null";
    case Value::Kind::boolean: return v.flag ? "true" : "false";
    case Value::Kind::unsigned_int: return std::to_string(v.u);
    case Value::Kind::negative_int: return std::to_string(v.i);
    case Value::Kind::floating: return float_text(v.d);
    case Value::Kind::string: return string_text(v.s);
    case Value::Kind::array: {
      std::string out = "[";
      for (const Value& item : v.items) out += (out.size() > 1 ? "," : "") + text(item);
      return out + "]";
    }
    case Value::Kind::object: {
      std::string out = "{";
      for (const auto& [name, value] : v.members) out += (out.size() > 1 ? "," : "") + string_text(name) + ":" + text(value);
      return out + "}";
    }
  }
  return "?";
}

// Equality kind by kind: numbers of one variant by value (0.0 equals -0.0),
// strings by content, arrays in order, objects whatever their member order.
inline bool same(const Value& a, const Value& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case Value::Kind::null: return true;
    case Value::Kind::boolean: return a.flag == b.flag;
    case Value::Kind::unsigned_int: return a.u == b.u;
    case Value::Kind::negative_int: return a.i == b.i;
    case Value::Kind::floating: return a.d == b.d;
    case Value::Kind::string: return a.s == b.s;
    case Value::Kind::array:
      if (a.items.size() != b.items.size()) return false;
      for (size_t k = 0; k < a.items.size(); ++k) {
        if (!same(a.items[k], b.items[k])) return false;
      }
      return true;
    case Value::Kind::object:
      if (a.members.size() != b.members.size()) return false;
      for (const auto& [name, value] : a.members) {
        const Value* other = b.member(name);
        if (other == nullptr || !same(value, *other)) return false;
      }
      return true;
  }
  return false;
}

// A long double holds every 64-bit integer and every double exactly.
static_assert(std::numeric_limits<long double>::digits >= 64);

inline long double mathematical_value(const Value& n) {
  switch (n.kind) {
    case Value::Kind::unsigned_int: return static_cast<long double>(n.u);
    case Value::Kind::negative_int: return static_cast<long double>(n.i);
    default: return static_cast<long double>(n.d);
  }
}

// Two whole row values: numbers compare by mathematical value whatever their
// variants, everything else kind by kind.
inline bool same_row_value(const Value& a, const Value& b) {
  if (a.is_number() && b.is_number()) return mathematical_value(a) == mathematical_value(b);
  return same(a, b);
}

// The columnar output of `rows` (objects all): names in first-seen order; a
// name null or absent in every row is dropped; with two rows or more, a name
// whose every row holds a value equal to row 0's is a constant holding row
// 0's value; every other name is a column, for which each row gives its own
// value, or null.
inline std::string columnarized(const std::vector<Value>& rows) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (const Value& row : rows) {
    for (const auto& member : row.members) {
      if (seen.insert(member.first).second) names.push_back(member.first);
    }
  }
  const Value null;
  auto cell = [&null](const Value& row, const std::string& name) -> const Value& {
    const Value* v = row.member(name);
    return v ? *v : null;
  };
  std::vector<std::string> columns;
  std::string constants;
  for (const std::string& name : names) {
    bool all_null = true;
    for (const Value& row : rows) all_null = all_null && cell(row, name).kind == Value::Kind::null;
    if (all_null) continue;
    bool constant = rows.size() >= 2;
    for (const Value& row : rows) constant = constant && same_row_value(cell(row, name), cell(rows[0], name));
    if (constant) {
      constants += (constants.empty() ? "" : ",") + string_text(name) + ":" + text(cell(rows[0], name));
    } else {
      columns.push_back(name);
    }
  }
  std::string out = "{\"columns\":[";
  for (size_t c = 0; c < columns.size(); ++c) out += (c ? "," : "") + string_text(columns[c]);
  out += "],\"rows\":[";
  for (size_t r = 0; r < rows.size(); ++r) {
    out += r ? ",[" : "[";
    for (size_t c = 0; c < columns.size(); ++c) out += (c ? "," : "") + text(cell(rows[r], columns[c]));
    out += "]";
  }
  return out + "],\"constants\":{" + constants + "}}";
}

}  // namespace tamsel::reference
