#include "control/array_block.hpp"

#include <cstdlib>
#include <limits>
#include <memory>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MOODY_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define MOODY_ASAN 1
#endif
#if defined(MOODY_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace moody {

namespace {
// Under AddressSanitizer the bytes of a block that belong to no array (the
// alignment margin and the stretch between the end of one array and the
// start of the next) are poisoned, so that an index one past the end of an
// array is reported although it stays inside the block.
void poison(const char* from, const char* to) {
#if defined(MOODY_ASAN)
  if (to > from) ASAN_POISON_MEMORY_REGION(from, static_cast<std::size_t>(to - from));
#else
  (void)from;
  (void)to;
#endif
}
void unpoison(const void* raw, std::size_t bytes) {
#if defined(MOODY_ASAN)
  ASAN_UNPOISON_MEMORY_REGION(raw, bytes);
#else
  (void)raw;
  (void)bytes;
#endif
}

std::uint64_t whole_pages(std::uint64_t bytes) {
  return (bytes + kPageBytes - 1) / kPageBytes * kPageBytes;
}

std::uint64_t elements(int n) {
  return n > 0 ? static_cast<std::uint64_t>(n) : 0;
}

// Offset of the k-th array from the page-aligned start of the block: the
// whole pages of the arrays before it, then its slot.
std::uint64_t offset_of(std::span<const Placed> arrays, int first_slot, std::size_t k) {
  std::uint64_t pages = 0;
  for (std::size_t j = 0; j < k; ++j)
    pages += whole_pages(elements(arrays[j].n) * sizeof(double));
  return pages + static_cast<std::uint64_t>(first_slot + static_cast<int>(k)) * kStagger;
}
}  // namespace

std::uint64_t block_bytes(std::span<const Placed> arrays, int first_slot) {
  if (arrays.empty()) return 0;
  const std::size_t last = arrays.size() - 1;
  return offset_of(arrays, first_slot, last) + elements(arrays[last].n) * sizeof(double) +
         kPageBytes;
}

void size_in_one_block(std::span<const Placed> arrays, int first_slot) {
  const std::uint64_t bytes = block_bytes(arrays, first_slot);
  if (bytes > std::numeric_limits<std::size_t>::max()) throw std::bad_alloc();
  // Zeroed storage: a large block comes straight from the system, whose
  // pages are zero already, and is not written here.
  void* raw = std::calloc(static_cast<std::size_t>(bytes), 1);
  if (raw == nullptr) throw std::bad_alloc();
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(raw);
  char* const start = static_cast<char*>(raw) + (kPageBytes - at % kPageBytes) % kPageBytes;
  // Should shared_ptr fail to allocate its count, it frees the block itself.
  const auto size = static_cast<std::size_t>(bytes);
  const std::shared_ptr<double[]> block(reinterpret_cast<double*>(start), [raw, size](double*) {
    unpoison(raw, size);
    std::free(raw);
  });
  const char* free_from = static_cast<const char*>(raw);
  std::uint64_t offset = static_cast<std::uint64_t>(first_slot) * kStagger;
  for (const Placed& a : arrays) {
    char* const first = start + offset;
    a.array->view(block, reinterpret_cast<double*>(first), a.n);
    poison(free_from, first);
    free_from = first + elements(a.n) * sizeof(double);
    offset += whole_pages(elements(a.n) * sizeof(double)) + kStagger;
  }
  poison(free_from, static_cast<const char*>(raw) + size);
}

}  // namespace moody
