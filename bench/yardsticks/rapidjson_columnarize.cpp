// The RapidJSON yardstick: the same transform as ours written the way a
// careful C++ developer would with RapidJSON: DOM parse (full-precision
// numbers and UTF-8 validation, as our reader does), one pass over the rows
// with a hash map from column name to column, then RapidJSON's Writer.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "yardsticks/stopwatch.h"
#include "yardsticks/yardsticks.h"

namespace bench {
namespace {

using rapidjson::Value;

constexpr unsigned kParseFlags = rapidjson::kParseFullPrecisionFlag | rapidjson::kParseValidateEncodingFlag;
constexpr uint32_t kNone = UINT32_MAX;

std::string_view name_of(const Value& v) { return {v.GetString(), v.GetStringLength()}; }

bool integers_equal(const Value& a, const Value& b) {
  if (a.IsUint64() && b.IsUint64()) return a.GetUint64() == b.GetUint64();
  if (a.IsInt64() && b.IsInt64()) return a.GetInt64() == b.GetInt64();
  return false;
}

bool float_equals_integer(double d, const Value& integer) {
  if (d != std::trunc(d)) return false;
  if (integer.IsUint64()) return d >= 0.0 && d < 18446744073709551616.0 && static_cast<uint64_t>(d) == integer.GetUint64();
  return d >= -9223372036854775808.0 && d < 0.0 && static_cast<int64_t>(d) == integer.GetInt64();
}

// Kinds and number variants kept apart, object member order ignored.
bool strict_equal(const Value& a, const Value& b) {
  if (a.GetType() != b.GetType()) return false;
  switch (a.GetType()) {
    case rapidjson::kNullType:
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
      return true;
    case rapidjson::kNumberType:
      if (a.IsDouble() != b.IsDouble()) return false;
      return a.IsDouble() ? a.GetDouble() == b.GetDouble() : integers_equal(a, b);
    case rapidjson::kStringType:
      return name_of(a) == name_of(b);
    case rapidjson::kArrayType:
      if (a.Size() != b.Size()) return false;
      for (rapidjson::SizeType i = 0; i < a.Size(); ++i) {
        if (!strict_equal(a[i], b[i])) return false;
      }
      return true;
    case rapidjson::kObjectType:
      if (a.MemberCount() != b.MemberCount()) return false;
      for (const auto& m : a.GetObject()) {
        auto found = b.FindMember(m.name);
        if (found == b.MemberEnd() || !strict_equal(m.value, found->value)) return false;
      }
      return true;
  }
  return false;
}

// Whole row values: numbers by mathematical value.
bool row_values_equal(const Value& a, const Value& b) {
  if (a.IsNumber() && b.IsNumber()) {
    if (a.IsDouble() && b.IsDouble()) return a.GetDouble() == b.GetDouble();
    if (a.IsDouble()) return float_equals_integer(a.GetDouble(), b);
    if (b.IsDouble()) return float_equals_integer(b.GetDouble(), a);
    return integers_equal(a, b);
  }
  return strict_equal(a, b);
}

struct Column {
  const Value* name;
  const Value* first;  // row 0's value, when row 0 has the member
  size_t rows_matching;
  bool has_value;
  bool may_be_constant;
  uint32_t cell = kNone;
};

}  // namespace

bool rapidjson_columnarize(std::string_view payload, std::string& out) {
  rapidjson::Document doc;
  doc.Parse<kParseFlags>(payload.data(), payload.size());
  if (doc.HasParseError() || !doc.IsArray()) return false;
  const auto rows = doc.GetArray();
  for (const Value& row : rows) {
    if (!row.IsObject()) return false;
  }

  std::unordered_map<std::string_view, uint32_t> index;
  std::vector<Column> columns;
  for (rapidjson::SizeType r = 0; r < rows.Size(); ++r) {
    for (const auto& member : rows[r].GetObject()) {
      auto [it, inserted] = index.try_emplace(name_of(member.name), static_cast<uint32_t>(columns.size()));
      if (inserted) {
        bool in_first_row = r == 0;
        columns.push_back(Column{&member.name, in_first_row ? &member.value : nullptr, 0, false,
                                 in_first_row && !member.value.IsNull()});
      }
      Column& column = columns[it->second];
      if (!member.value.IsNull()) column.has_value = true;
      if (column.may_be_constant) {
        if (r == 0 || row_values_equal(member.value, *column.first)) {
          ++column.rows_matching;
        } else {
          column.may_be_constant = false;
        }
      }
    }
  }
  const bool constants_allowed = rows.Size() >= 2;
  auto is_constant = [&](const Column& c) {
    return constants_allowed && c.may_be_constant && c.rows_matching == rows.Size();
  };
  uint32_t cell_count = 0;
  for (Column& column : columns) {
    if (column.has_value && !is_constant(column)) column.cell = cell_count++;
  }

  rapidjson::StringBuffer buffer;
  buffer.Reserve(payload.size() / 2 + 64);
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("columns");
  writer.StartArray();
  for (const Column& column : columns) {
    if (column.cell != kNone) column.name->Accept(writer);
  }
  writer.EndArray();
  writer.Key("rows");
  writer.StartArray();
  std::vector<const Value*> cells(cell_count, nullptr);
  for (const Value& row : rows) {
    for (const auto& member : row.GetObject()) {
      uint32_t cell = columns[index.find(name_of(member.name))->second].cell;
      if (cell != kNone) cells[cell] = &member.value;
    }
    writer.StartArray();
    for (const Value*& cell : cells) {
      if (cell != nullptr) {
        cell->Accept(writer);
        cell = nullptr;
      } else {
        writer.Null();
      }
    }
    writer.EndArray();
  }
  writer.EndArray();
  writer.Key("constants");
  writer.StartObject();
  for (const Column& column : columns) {
    if (!column.has_value || !is_constant(column)) continue;
    column.name->Accept(writer);
    column.first->Accept(writer);
  }
  writer.EndObject();
  writer.EndObject();
  out.assign(buffer.GetString(), buffer.GetSize());
  return true;
}

}  // namespace bench

double bench_rapidjson_columnarize(const char* data, size_t size, int repeats) {
  std::string out;
  bench::Stopwatch watch;
  for (int i = 0; i < repeats; ++i) {
    if (!bench::rapidjson_columnarize(std::string_view(data, size), out)) return -1.0;
    bench::keep(out.data());
  }
  return watch.seconds();
}

long long bench_rapidjson_output(const char* data, size_t size, char* out, size_t capacity) {
  std::string text;
  if (!bench::rapidjson_columnarize(std::string_view(data, size), text)) return -1;
  if (text.size() <= capacity) std::memcpy(out, text.data(), text.size());
  return static_cast<long long>(text.size());
}
