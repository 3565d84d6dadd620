// Everything the reader (reader_body.inc, read_string.inc) uses, included
// by each kernel before it opens its namespace: these headers are compiled
// for the baseline processor whichever kernel includes them.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

#include "json/arena.h"
#include "json/escape_form.h"
#include "json/read_cursor.h"
#include "json/read_number.h"
#include "json/reader.h"
#include "json/reader_errors.h"
#include "json/scan.h"
#include "json/utf8.h"
#include "json/value.h"
