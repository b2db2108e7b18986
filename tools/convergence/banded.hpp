#pragma once
// A banded linear system A x = b, solved by Gaussian elimination with
// partial pivoting within the band: kl diagonals below the main one, ku
// above, and room for the kl more that row interchanges fill.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace moody::convergence {

class Banded {
 public:
  Banded(int n, int kl, int ku);

  // The bytes that a system of n rows and these bands holds.
  static std::uint64_t bytes(int n, int kl, int ku);

  // Element (r, c), 0-based, |c - r| within the bands given.
  double& at(int r, int c) { return a_[index(r, c)]; }

  void clear();

  // Solves in place: `b` becomes x.  The matrix is overwritten by its
  // factors.  False when a pivot is zero or not finite (b is then partly
  // overwritten).
  bool solve(std::vector<double>& b);

 private:
  std::size_t index(int r, int c) const {
    return static_cast<std::size_t>(r) * static_cast<std::size_t>(w_) +
           static_cast<std::size_t>(c - (r - kl_));
  }
  int n_, kl_, ku_, w_;
  std::vector<double> a_;
};

}  // namespace moody::convergence
