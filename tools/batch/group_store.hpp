#pragma once
// The storage of one group of lanes (batch.hpp): every array of the lanes'
// states in one block, element i of an array holding the values of all the
// group's lanes side by side.  The five fields that a pass reads of the one
// before (u, u0, ue, ue0, p: the first five quantities) are kept twice, the
// state and the state before the last pass; the pass reads one and writes
// the other (view), and flip() makes what it wrote the state.
//
// In a checked build an index outside 1..N or a lane outside the group
// stops the run; under AddressSanitizer the bytes between two arrays of the
// block are poisoned, so that a raw index one past the end of a lane's
// array is reported although it stays inside the block.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "batch.hpp"
#include "kernels.hpp"

namespace moody::batch {

class GroupStore {
 public:
  static constexpr int kFields = 5;  // u, u0, ue, ue0, p

  GroupStore(int N, int lanes);
  ~GroupStore();
  // Bytes of the block of a group of `lanes` lanes on N nodes.
  static std::uint64_t bytes(int N, int lanes);
  GroupStore(const GroupStore&) = delete;
  GroupStore& operator=(const GroupStore&) = delete;

  int lanes() const { return lanes_; }
  // Element 1 of a quantity's array in the state, of the state before the
  // last pass (a field), and of the residuals' sums of the last pass (three
  // elements, imbalance, change and correction, of kLanes doubles each).
  double* array(Quantity q) const { return first_[slot(q, current_)]; }
  double* array_before(Quantity q) const { return first_[slot(q, 1 - current_)]; }
  double* sums() const { return first_[kSums]; }

  double& at(Quantity q, int i, int lane) const { return element(slot(q, current_), i, lane); }
  double before(Quantity q, int i, int lane) const {
    return element(slot(q, 1 - current_), i, lane);
  }

  // Reads the state, writes the next one; flip() then makes that the state.
  GroupView view() const;
  void flip() { current_ = 1 - current_; }

  // The time step of a lane.
  double& dt_of(int lane) { return dt[static_cast<std::size_t>(lane)]; }
  double dt_of(int lane) const { return dt[static_cast<std::size_t>(lane)]; }

  // Every array of one lane zero, as sizing leaves a state.
  void clear_lane(int lane) const;

 private:
  static constexpr int kSums = kQuantities + kFields;
  static constexpr int kSlots = kSums + 1;

  // The slot of a quantity, a field's in copy `copy` (0 or 1).
  static int slot(Quantity q, int copy) {
    const int n = static_cast<int>(q);
    return n < kFields ? n + kFields * copy : n + kFields;
  }
  double& element(int slot, int i, int lane) const;

  int N_;
  int lanes_;
  std::size_t bytes_ = 0;
  double* block_ = nullptr;
  double* first_[kSlots] = {};
  int current_ = 0;

 public:
  std::vector<double> dt;  // each lane's time step
};

}  // namespace moody::batch
