#include "support/os.h"

#include "support/platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if TAMSEL_HAVE_LINUX_MEMORY
#include <sys/mman.h>
#endif
#if TAMSEL_HAVE_MEMORY_LIMITS
#include <sys/resource.h>
#endif
#if TAMSEL_HAVE_THREAD_NAMES
#include <pthread.h>
#endif

namespace tamsel::os {

namespace {

// [start, end) of the pages of `page` bytes wholly inside the range; empty
// when there are none.
struct PageRange {
  uintptr_t start;
  uintptr_t end;
};
[[maybe_unused]] PageRange pages_inside(void* block, size_t bytes, size_t page) {
  uintptr_t first = reinterpret_cast<uintptr_t>(block);
  uintptr_t start = (first + page - 1) & ~uintptr_t{page - 1};
  uintptr_t end = (first + bytes) & ~uintptr_t{page - 1};
  return {start, end > start ? end : start};
}

}  // namespace

// ---------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------

#if TAMSEL_HAVE_LINUX_MEMORY

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it, which is harmless
#endif
#ifndef MADV_FREE
#define MADV_FREE 8  // Linux 4.5; older kernels refuse it (free_pages_lazily then discards)
#endif

void* map_pages(size_t bytes) noexcept {
  // Map one huge page more than needed and trim both ends to alignment.
  size_t span = bytes + kHugePageBytes;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  uintptr_t aligned = (start + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  if (aligned != start) munmap(raw, aligned - start);
  size_t tail = (start + span) - (aligned + bytes);
  if (tail != 0) munmap(reinterpret_cast<void*>(aligned + bytes), tail);
  void* block = reinterpret_cast<void*>(aligned);
  // Advice only; 4 KiB pages still work.
  madvise(block, bytes, MADV_HUGEPAGE);
  return block;
}

void unmap_pages(void* block, size_t bytes) noexcept { munmap(block, bytes); }

void* remap_pages(void* block, size_t old_bytes, size_t new_bytes) noexcept {
  // In place keeps the alignment; moving may cost it, which only loses huge
  // pages, not correctness.
  void* moved = mremap(block, old_bytes, new_bytes, 0);
  if (moved == MAP_FAILED) moved = mremap(block, old_bytes, new_bytes, MREMAP_MAYMOVE);
  return moved == MAP_FAILED ? nullptr : moved;
}

void populate_for_writing(void* block, size_t bytes) noexcept {
  PageRange r = pages_inside(block, bytes, 4096);
  if (r.end > r.start) madvise(reinterpret_cast<void*>(r.start), r.end - r.start, MADV_POPULATE_WRITE);
}

bool mostly_absent(void* block, size_t bytes) noexcept {
  PageRange r = pages_inside(block, bytes, 4096);
  const size_t pages = (r.end - r.start) / 4096;
  unsigned char resident[kMostlyAbsentMaxPages];
  if (pages == 0 || pages > kMostlyAbsentMaxPages) return false;
  if (mincore(reinterpret_cast<void*>(r.start), r.end - r.start, resident) != 0) return false;
  size_t absent = 0;
  for (size_t i = 0; i < pages; ++i) absent += (resident[i] & 1) == 0 ? 1 : 0;
  return 2 * absent > pages;
}

void advise_huge_pages(void* block, size_t bytes) noexcept {
  PageRange r = pages_inside(block, bytes, kHugePageBytes);
  if (r.end > r.start) madvise(reinterpret_cast<void*>(r.start), r.end - r.start, MADV_HUGEPAGE);
}

void discard_pages(void* block, size_t bytes) noexcept {
  PageRange r = pages_inside(block, bytes, 4096);
  if (r.end > r.start) madvise(reinterpret_cast<void*>(r.start), r.end - r.start, MADV_DONTNEED);
}

bool free_pages_lazily(void* block, size_t bytes) noexcept {
  PageRange r = pages_inside(block, bytes, 4096);
  if (r.end <= r.start) return true;
  void* start = reinterpret_cast<void*>(r.start);
  if (madvise(start, r.end - r.start, MADV_FREE) == 0) return true;
  madvise(start, r.end - r.start, MADV_DONTNEED);
  return false;
}

#else  // The C allocator, and no advice.

void* map_pages(size_t bytes) noexcept { return std::aligned_alloc(kHugePageBytes, bytes); }

void unmap_pages(void* block, size_t) noexcept { std::free(block); }

void* remap_pages(void*, size_t, size_t) noexcept { return nullptr; }

void populate_for_writing(void*, size_t) noexcept {}

bool mostly_absent(void*, size_t) noexcept { return false; }

void advise_huge_pages(void*, size_t) noexcept {}

void discard_pages(void*, size_t) noexcept {}

bool free_pages_lazily(void*, size_t) noexcept { return false; }

#endif

// ---------------------------------------------------------------------------
// Memory the process may still take
// ---------------------------------------------------------------------------

namespace {

// Lines and paths live in fixed buffers on the stack: the reading runs
// inside allocate_large, where a heap allocation of its own would be one
// more thing to fail (and, in the allocation-failure build, an allocation
// point inside a function that must not throw). Longer lines are cut, which
// only ever loses lines that are not the ones looked for.
constexpr size_t kTextBytes = 1024;

// A file's lines, through the C library's stdio.
class Lines {
 public:
  explicit Lines(const char* path) noexcept : file_(std::fopen(path, "r")) {}
  ~Lines() {
    if (file_ != nullptr) std::fclose(file_);
  }
  Lines(const Lines&) = delete;
  Lines& operator=(const Lines&) = delete;

  // The next line without its newline; nullptr at the end or when the file
  // could not be opened.
  const char* next() noexcept {
    if (file_ == nullptr || std::fgets(line_, sizeof line_, file_) == nullptr) return nullptr;
    const size_t n = std::strlen(line_);
    if (n != 0 && line_[n - 1] == '\n') {
      line_[n - 1] = '\0';
    } else {
      int c;
      while ((c = std::fgetc(file_)) != EOF && c != '\n') {
      }
    }
    return line_;
  }

 private:
  std::FILE* file_;
  char line_[kTextBytes];
};

// The parts joined into `out`; false when they do not fit.
bool join(char (&out)[kTextBytes], const char* a, const char* b, const char* c = "", const char* d = "") noexcept {
  const int n = std::snprintf(out, sizeof out, "%s%s%s%s", a, b, c, d);
  return n >= 0 && static_cast<size_t>(n) < sizeof out;
}

uint64_t saturating_product(uint64_t a, uint64_t b) noexcept { return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b; }

// The unsigned decimal at the start of `text` (spaces skipped); false when
// there is none.
bool leading_number(const char* text, uint64_t& value) noexcept {
  while (*text == ' ' || *text == '\t') ++text;
  if (*text < '0' || *text > '9') return false;
  value = std::strtoull(text, nullptr, 10);
  return true;
}

// The number after `key` (which ends in its separator, as "MemAvailable:")
// on a line of the file, times `unit`; false when no line has it.
bool keyed_number(const char* path, const char* key, uint64_t unit, uint64_t& value) noexcept {
  Lines lines(path);
  const size_t key_length = std::strlen(key);
  while (const char* line = lines.next()) {
    if (std::strncmp(line, key, key_length) == 0 && leading_number(line + key_length, value)) {
      value = saturating_product(value, unit);
      return true;
    }
  }
  return false;
}

// A cgroup file that holds one number, or "max" for none.
enum class Setting { absent, none, number };
Setting cgroup_setting(const char* path, uint64_t& value) noexcept {
  Lines lines(path);
  const char* line = lines.next();
  if (line == nullptr) return Setting::absent;
  if (std::strcmp(line, "max") == 0) return Setting::none;
  return leading_number(line, value) ? Setting::number : Setting::absent;
}

// Whether `list` (comma-separated) holds `word`.
bool lists(const char* list, size_t length, const char* word) noexcept {
  const size_t word_length = std::strlen(word);
  for (size_t at = 0; at <= length;) {
    const char* comma = static_cast<const char*>(std::memchr(list + at, ',', length - at));
    const size_t end = comma != nullptr ? static_cast<size_t>(comma - list) : length;
    if (end - at == word_length && std::memcmp(list + at, word, word_length) == 0) return true;
    at = end + 1;
  }
  return false;
}

// The files of one cgroup version.
struct CgroupFiles {
  const char* mount_type;  // in /proc/self/mountinfo
  const char* mount_option;  // that the mount's super options must hold, or nullptr
  const char* limit;
  const char* usage;
  const char* inactive_file;  // its key in memory.stat, counting the cgroups below
};
// v1 mounts a hierarchy per controller (or a few together): the memory one.
constexpr CgroupFiles kCgroupV1{"cgroup", "memory", "/memory.limit_in_bytes", "/memory.usage_in_bytes",
                                "total_inactive_file "};
constexpr CgroupFiles kCgroupV2{"cgroup2", nullptr, "/memory.max", "/memory.current", "inactive_file "};

// The process's memory cgroup, from /proc/self/cgroup ("hierarchy:
// controllers:path" lines): v1's memory controller where there is one (the
// v2 hierarchy of a system that has both then holds no memory files),
// otherwise the v2 cgroup (hierarchy 0, no controllers named). Its files
// are nullptr when there is neither.
struct Cgroup {
  const CgroupFiles* files = nullptr;
  char path[kTextBytes] = "";
};
void read_cgroup(const char* root, Cgroup& cgroup) noexcept {
  char path[kTextBytes];
  if (!join(path, root, "/proc/self/cgroup")) return;
  Lines lines(path);
  while (const char* line = lines.next()) {
    const char* first = std::strchr(line, ':');
    const char* second = first != nullptr ? std::strchr(first + 1, ':') : nullptr;
    if (second == nullptr || second[1] != '/') continue;
    const size_t controllers = static_cast<size_t>(second - first - 1);
    const bool v2 = controllers == 0 && first - line == 1 && line[0] == '0';
    if (lists(first + 1, controllers, "memory") || (v2 && cgroup.files == nullptr)) {
      if (join(cgroup.path, second + 1, "")) cgroup.files = v2 ? &kCgroupV2 : &kCgroupV1;
    }
  }
}

// Where the hierarchy of `files` is mounted, from /proc/self/mountinfo: the
// directory (`point`) and the path among the cgroups that it shows
// (`root`). False when it is not mounted.
struct CgroupMount {
  char point[kTextBytes] = "";
  char root[kTextBytes] = "";
};
bool find_cgroup_mount(const char* root, const CgroupFiles& files, CgroupMount& mount) noexcept {
  char path[kTextBytes];
  if (!join(path, root, "/proc/self/mountinfo")) return false;
  Lines lines(path);
  const size_t type_length = std::strlen(files.mount_type);
  // "id parent major:minor root point options [tags...] - type source super-options"
  while (const char* line = lines.next()) {
    const char* fields[5];
    size_t lengths[5];
    const char* at = line;
    size_t n = 0;
    for (; n < 5 && *at != '\0'; ++n) {
      fields[n] = at;
      const char* space = std::strchr(at, ' ');
      lengths[n] = space != nullptr ? static_cast<size_t>(space - at) : std::strlen(at);
      at = space != nullptr ? space + 1 : at + lengths[n];
    }
    const char* type = std::strstr(at, " - ");
    if (n < 5 || type == nullptr) continue;
    type += 3;
    const char* source = std::strchr(type, ' ');
    if (source == nullptr || static_cast<size_t>(source - type) != type_length ||
        std::strncmp(type, files.mount_type, type_length) != 0) {
      continue;
    }
    if (files.mount_option != nullptr) {
      const char* options = std::strchr(source + 1, ' ');
      if (options == nullptr || !lists(options + 1, std::strlen(options + 1), files.mount_option)) continue;
    }
    if (lengths[3] >= kTextBytes || lengths[4] >= kTextBytes) continue;
    std::memcpy(mount.root, fields[3], lengths[3]);
    mount.root[lengths[3]] = '\0';
    std::memcpy(mount.point, fields[4], lengths[4]);
    mount.point[lengths[4]] = '\0';
    return true;
  }
  return false;
}

// The directory of the process's memory cgroup and the files to read there
// and above it, up to the top of the mount. Found once per process by
// memory_headroom: reading mountinfo costs more than all the rest, and a
// process is not moved to another cgroup once it runs (when it is, its
// limits are still read from where it started).
struct CgroupPlace {
  const CgroupFiles* files = nullptr;  // nullptr: no cgroup with memory files
  size_t top_length = 0;
  char directory[kTextBytes] = "";
};

CgroupPlace find_cgroup(const char* root) noexcept {
  CgroupPlace place;
  Cgroup cgroup;
  read_cgroup(root, cgroup);
  CgroupMount mount;
  if (cgroup.files == nullptr || !find_cgroup_mount(root, *cgroup.files, mount)) return place;
  // Inside a container the mount shows the container's own cgroup, which
  // /proc/self/cgroup may name in full (then the mount's root is a prefix of
  // it) or not at all (a path outside the mount's root): either way the
  // mount's top directory is that cgroup.
  const size_t root_length = std::strcmp(mount.root, "/") == 0 ? 0 : std::strlen(mount.root);
  const char* below = cgroup.path;
  if (root_length != 0) {
    const bool inside = std::strncmp(below, mount.root, root_length) == 0 &&
                        (below[root_length] == '\0' || below[root_length] == '/');
    below = inside ? below + root_length : "";
  }
  if (!join(place.directory, root, mount.point)) return place;
  place.top_length = std::strlen(place.directory);
  if (!join(place.directory, root, mount.point, std::strcmp(below, "/") == 0 ? "" : below)) return place;
  place.files = cgroup.files;
  return place;
}

// The least of `headroom` and what the cgroup at `place` and every one
// above it still allow.
uint64_t cgroup_headroom(const CgroupPlace& place, uint64_t headroom) noexcept {
  if (place.files == nullptr) return headroom;
  const CgroupFiles& files = *place.files;
  char directory[kTextBytes];
  std::memcpy(directory, place.directory, sizeof directory);
  // From the process's own cgroup up to the mount's top: a limit on any of
  // them holds the process too. Usage and memory.stat are read only where
  // the limit is below the least found so far (v1 writes "no limit" as a
  // number near 2^63).
  for (size_t length = std::strlen(directory);;) {
    directory[length] = '\0';
    char path[kTextBytes];
    uint64_t limit = 0;
    uint64_t usage = 0;
    if (join(path, directory, files.limit) && cgroup_setting(path, limit) == Setting::number && limit < headroom &&
        join(path, directory, files.usage) && cgroup_setting(path, usage) == Setting::number) {
      // File pages not recently used are the first the kernel takes back
      // when the cgroup is full, before it fails or kills anything: a
      // process that has read many files would otherwise look full.
      uint64_t inactive_file = 0;
      if (join(path, directory, "/memory.stat") && keyed_number(path, files.inactive_file, 1, inactive_file)) {
        usage -= inactive_file < usage ? inactive_file : usage;
      }
      const uint64_t left = limit > usage ? limit - usage : 0;
      if (left < headroom) headroom = left;
    }
    const char* slash = std::strrchr(directory, '/');
    if (length <= place.top_length || slash == nullptr || static_cast<size_t>(slash - directory) < place.top_length) {
      break;
    }
    length = static_cast<size_t>(slash - directory);
  }
  return headroom;
}

uint64_t headroom_at(const CgroupPlace& place, const char* root, uint64_t address_space_limit) noexcept {
  uint64_t headroom = kNoMemoryLimit;
  char path[kTextBytes];
  uint64_t available = 0;
  if (join(path, root, "/proc/meminfo") && keyed_number(path, "MemAvailable:", 1024, available)) headroom = available;
  if (address_space_limit != kNoMemoryLimit) {
    uint64_t in_use = 0;
    if (!join(path, root, "/proc/self/status") || !keyed_number(path, "VmSize:", 1024, in_use)) in_use = 0;
    const uint64_t left = address_space_limit > in_use ? address_space_limit - in_use : 0;
    if (left < headroom) headroom = left;
  }
  return cgroup_headroom(place, headroom);
}

}  // namespace

uint64_t memory_headroom_under(const char* root, uint64_t address_space_limit) noexcept {
  return headroom_at(find_cgroup(root), root, address_space_limit);
}

uint64_t memory_headroom() noexcept {
#if TAMSEL_HAVE_MEMORY_LIMITS
  uint64_t address_space_limit = kNoMemoryLimit;
  struct rlimit limit;
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) address_space_limit = limit.rlim_cur;
  static const CgroupPlace place = find_cgroup("");
  return headroom_at(place, "", address_space_limit);
#else
  return kNoMemoryLimit;
#endif
}

// ---------------------------------------------------------------------------
// Thread names
// ---------------------------------------------------------------------------

std::string current_thread_name() {
#if TAMSEL_HAVE_THREAD_NAMES
  char name[64] = {0};
  if (pthread_getname_np(pthread_self(), name, sizeof name) == 0 && name[0] != '\0') return name;
#endif
  return "<unnamed>";
}

}  // namespace tamsel::os
