#include "group_store.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "control/array1.hpp"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MOODY_BATCH_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define MOODY_BATCH_ASAN 1
#endif
#if defined(MOODY_BATCH_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace moody::batch {

namespace {
constexpr std::size_t kPage = 4096;

std::uint64_t round_up(std::uint64_t n, std::uint64_t to) {
  return (n + to - 1) / to * to;
}

// The bytes of the block that belong to no array, poisoned under
// AddressSanitizer (as the arrays of a run are, control/array_block.cpp).
void poison([[maybe_unused]] const void* from, [[maybe_unused]] std::size_t bytes) {
#if defined(MOODY_BATCH_ASAN)
  ASAN_POISON_MEMORY_REGION(from, bytes);
#endif
}
void unpoison([[maybe_unused]] const void* from, [[maybe_unused]] std::size_t bytes) {
#if defined(MOODY_BATCH_ASAN)
  ASAN_UNPOISON_MEMORY_REGION(from, bytes);
#endif
}
// Each array in whole pages, the one of slot k starting 128*k bytes into its
// page, so that the streams of a sweep do not fall on the same cache sets.
std::uint64_t used_bytes(int N, int lanes) {
  return static_cast<std::uint64_t>(N) * static_cast<std::uint64_t>(lanes) * 8;
}
std::uint64_t stride_bytes(int N, int lanes) {
  return round_up(used_bytes(N, lanes), kPage) + 128;
}
}  // namespace

std::uint64_t GroupStore::bytes(int N, int lanes) {
  return stride_bytes(N, lanes) * kSlots;
}

GroupStore::GroupStore(int N, int lanes)
    : N_(N), lanes_(lanes), dt(static_cast<std::size_t>(lanes), 0.0) {
  const std::size_t used = used_bytes(N, lanes);
  const std::size_t stride = stride_bytes(N, lanes);
  bytes_ = bytes(N, lanes);
  block_ = static_cast<double*>(::operator new (bytes_, std::align_val_t{kPage}));
  std::memset(block_, 0, bytes_);
  for (int k = 0; k < kSlots; ++k) {
    first_[k] = block_ + static_cast<std::size_t>(k) * stride / sizeof(double);
    poison(reinterpret_cast<const char*>(first_[k]) + used, stride - used);
  }
}

GroupStore::~GroupStore() {
  unpoison(block_, bytes_);
  ::operator delete (block_, std::align_val_t{kPage});
}

double& GroupStore::element(int slot, int i, int lane) const {
#if defined(MOODY_CHECKED_INDICES)
  if (i < 1 || i > N_) index_outside_bounds(i, N_);
  if (lane < 0 || lane >= lanes_) {
    std::fprintf(stderr, "lane %d outside a group of %d\n", lane, lanes_);
    std::abort();
  }
#endif
  return first_[slot][static_cast<std::ptrdiff_t>(i - 1) * lanes_ + lane];
}

GroupView GroupStore::view() const {
  // The pass starts from the state and writes its fields into the other copy.
  return {.dt = dt.data(),
          .u_in = array(Quantity::kU),
          .u0_in = array(Quantity::kU0),
          .ue_in = array(Quantity::kUe),
          .ue0_in = array(Quantity::kUe0),
          .p_in = array(Quantity::kP),
          .u = array_before(Quantity::kU),
          .u0 = array_before(Quantity::kU0),
          .ue = array_before(Quantity::kUe),
          .ue0 = array_before(Quantity::kUe0),
          .p = array_before(Quantity::kP),
          .pl = array(Quantity::kPl),
          .dP = array(Quantity::kDP),
          .de = array(Quantity::kDe),
          .qml_aW = array(Quantity::kQmlAW),
          .qml_aP = array(Quantity::kQmlAP),
          .qml_aE = array(Quantity::kQmlAE),
          .massa_bP = array(Quantity::kMassaBP),
          .P = array(Quantity::kWorkP),
          .Q = array(Quantity::kWorkQ),
          .sums = sums()};
}

void GroupStore::clear_lane(int lane) const {
  for (int k = 0; k < kSlots; ++k) {
    for (int i = 1; i <= N_; ++i)
      element(k, i, lane) = 0.0;
  }
}

}  // namespace moody::batch
