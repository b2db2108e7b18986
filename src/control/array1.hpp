#pragma once
// A one-dimensional array of doubles indexed from 1, as in the discretised
// equations: a(1) is the first element, a(n) the last.

#include <cstddef>
#include <vector>

namespace moody {

class Array1 {
 public:
  Array1() = default;

  // Gives the array the bounds 1..n with every element zero.  Throws
  // std::bad_alloc when the storage cannot be had.
  void size_to(int n) { v_.assign(n > 0 ? static_cast<std::size_t>(n) : 0, 0.0); }

  int size() const { return static_cast<int>(v_.size()); }

  double& operator()(int i) { return v_[static_cast<std::size_t>(i - 1)]; }
  double operator()(int i) const { return v_[static_cast<std::size_t>(i - 1)]; }

  // Whole-array assignments of the driver.
  void fill(double value) {
    for (double& e : v_) e = value;
  }
  void copy_from(const Array1& other) { v_ = other.v_; }

  // Raw storage, element 1 first (for the solver's inner loops and for tests).
  double* data() { return v_.data(); }
  const double* data() const { return v_.data(); }

 private:
  std::vector<double> v_;
};

}  // namespace moody
