// Native yardsticks for the benchmark driver, loaded with ctypes into the
// same process that times the Python module. Each bench_* function runs its
// work `repeats` times on the given bytes and returns the total seconds of
// those runs (setup such as padding copies is done once, untimed), or a
// negative number when the input is rejected.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

extern "C" {
double bench_memcpy(const char* data, size_t size, int repeats);
double bench_simdjson_parse(const char* data, size_t size, int repeats);
double bench_rapidjson_columnarize(const char* data, size_t size, int repeats);
double bench_native_columnarize(const char* data, size_t size, int repeats);

// Writes the RapidJSON yardstick's output into `out` when it fits in
// `capacity` bytes; returns its full length, or -1 when the input is rejected.
long long bench_rapidjson_output(const char* data, size_t size, char* out, size_t capacity);
}

namespace bench {

// Parse with RapidJSON's DOM, columnarize, write with RapidJSON's Writer.
// False when the input is not an array of objects.
bool rapidjson_columnarize(std::string_view payload, std::string& out);

}  // namespace bench
