#pragma once
// One block of storage for arrays that are streamed side by side.
//
// Each sweep over the grid reads and writes nine to fifteen arrays at the
// same index at once.  Were each array an allocation of its own, the C
// library would serve every large one as a fresh page-aligned mapping, all
// starting at the same offset within a 4 KiB page: their streams would then
// fall into the same few cache sets, and the processor would take the stores
// of one array for the loads of another (addresses alike in their low twelve
// bits).  Here the arrays sit one after the other in a single block, each in
// a stretch of whole pages, and the array of slot k starts k*kStagger bytes
// past a page boundary.  No two arrays of a run share a slot, so at any index
// their elements lie in different cache sets, whatever the allocator did.
//
// Slots: the state's twenty-four arrays in the order of sizing (0..23), then
// the tridiagonal solver's two work arrays (24, 25).

#include <cstddef>
#include <cstdint>
#include <span>

#include "control/array1.hpp"

namespace moody {

inline constexpr std::size_t kPageBytes = 4096;
inline constexpr std::size_t kStagger = 128;  // two cache lines
inline constexpr int kSlots = 26;
inline constexpr int kWorkSlot = 24;  // the first of the solver's two
static_assert(kSlots * kStagger <= kPageBytes, "every slot needs its own offset in a page");

// An array to be placed (or none, when only counting bytes), and its upper
// bound.
struct Placed {
  Array1* array;
  int n;
};

// Bytes of one block for arrays of these upper bounds, placed from slot
// `first_slot` on (the alignment margin included).
std::uint64_t block_bytes(std::span<const Placed> arrays, int first_slot);

// Gives every array its bounds 1..n, every element zero, in one new block,
// in the order given, the k-th in slot first_slot + k.  Throws
// std::bad_alloc, leaving every array as it was, when the block cannot be had.
void size_in_one_block(std::span<const Placed> arrays, int first_slot);

}  // namespace moody
