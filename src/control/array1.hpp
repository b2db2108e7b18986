#pragma once
// A one-dimensional array of doubles indexed from 1, as in the discretised
// equations: a(1) is the first element, a(n) the last.
//
// An array either owns its storage (size_to) or is a view of a stretch of a
// larger block that several arrays share (view; the block is released with
// the last array that views it).  The arrays of a run are views: they live
// side by side in one block, placed so that the sweeps over the grid stream
// them without getting in each other's way (array_block.hpp).

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

namespace moody {

// A checked build (MOODY_CHECKED_INDICES: the Debug and sanitizer builds)
// stops at the first index outside 1..n, where a plain build would read or
// write a neighbouring array of the same block unnoticed.
[[noreturn]] inline void index_outside_bounds(int i, int n) {
  std::fprintf(stderr, "index %d outside the bounds 1..%d of an array\n", i, n);
  std::abort();
}

class Array1 {
 public:
  Array1() = default;

  // A copy owns its storage; an assignment between arrays of the same size
  // copies the elements into the storage the array already has.
  Array1(const Array1& other) { copy_into_own(other); }
  Array1& operator=(const Array1& other) {
    if (this == &other) return *this;
    if (other.n_ == n_) {
      std::copy_n(other.first_, n_, first_);
    } else {
      copy_into_own(other);
    }
    return *this;
  }
  Array1(Array1&& other) noexcept { *this = std::move(other); }
  Array1& operator=(Array1&& other) noexcept {
    first_ = std::exchange(other.first_, nullptr);
    n_ = std::exchange(other.n_, 0);
    storage_ = std::move(other.storage_);
    return *this;
  }

  // Gives the array the bounds 1..n with every element zero, in storage of
  // its own.  Throws std::bad_alloc when the storage cannot be had.
  void size_to(int n) {
    const int count = n > 0 ? n : 0;
    storage_ = count > 0 ? std::make_shared<double[]>(static_cast<std::size_t>(count)) : nullptr;
    first_ = storage_.get();
    n_ = count;
  }

  // Gives the array the bounds 1..n over the n doubles at `first`, inside the
  // storage that `block` keeps alive.
  void view(std::shared_ptr<double[]> block, double* first, int n) noexcept {
    storage_ = std::move(block);
    first_ = first;
    n_ = n > 0 ? n : 0;
  }

  int size() const { return n_; }

  double& operator()(int i) {
    check(i);
    return first_[i - 1];
  }
  double operator()(int i) const {
    check(i);
    return first_[i - 1];
  }

  // Whole-array assignments of the driver.
  void fill(double value) { std::fill_n(first_, n_, value); }
  void copy_from(const Array1& other) { *this = other; }

  // Raw storage, element 1 first (for the solver's inner loops and for tests).
  double* data() { return first_; }
  const double* data() const { return first_; }

 private:
  void check([[maybe_unused]] int i) const {
#if defined(MOODY_CHECKED_INDICES)
    if (i < 1 || i > n_) index_outside_bounds(i, n_);
#endif
  }

  void copy_into_own(const Array1& other) {
    Array1 copy;
    copy.size_to(other.n_);
    std::copy_n(other.first_, other.n_, copy.first_);
    *this = std::move(copy);
  }

  double* first_ = nullptr;
  int n_ = 0;
  std::shared_ptr<double[]> storage_;  // keeps first_ alive
};

}  // namespace moody
