#include "banded.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace moody::convergence {

Banded::Banded(int n, int kl, int ku)
    : n_(n),
      kl_(kl),
      ku_(ku),
      w_(2 * kl + ku + 1),
      a_(static_cast<std::size_t>(n) * static_cast<std::size_t>(w_), 0.0) {}

std::uint64_t Banded::bytes(int n, int kl, int ku) {
  return static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(2 * kl + ku + 1) *
         sizeof(double);
}

void Banded::clear() {
  std::fill(a_.begin(), a_.end(), 0.0);
}

bool Banded::solve(std::vector<double>& b) {
  const int reach = kl_ + ku_;  // the last column a row holds after interchanges
  for (int k = 0; k < n_; ++k) {
    const int last = std::min(n_ - 1, k + kl_);
    int pivot = k;
    for (int r = k + 1; r <= last; ++r) {
      if (std::fabs(at(r, k)) > std::fabs(at(pivot, k))) pivot = r;
    }
    const double largest = at(pivot, k);
    if (largest == 0.0 || !std::isfinite(largest)) return false;
    const int end = std::min(n_ - 1, k + reach);
    if (pivot != k) {
      for (int c = k; c <= end; ++c)
        std::swap(at(k, c), at(pivot, c));
      std::swap(b[static_cast<std::size_t>(k)], b[static_cast<std::size_t>(pivot)]);
    }
    for (int r = k + 1; r <= last; ++r) {
      const double m = at(r, k) / at(k, k);
      if (m == 0.0) continue;
      for (int c = k + 1; c <= end; ++c)
        at(r, c) -= m * at(k, c);
      at(r, k) = 0.0;
      b[static_cast<std::size_t>(r)] -= m * b[static_cast<std::size_t>(k)];
    }
  }
  for (int k = n_ - 1; k >= 0; --k) {
    double s = b[static_cast<std::size_t>(k)];
    const int end = std::min(n_ - 1, k + reach);
    for (int c = k + 1; c <= end; ++c)
      s -= at(k, c) * b[static_cast<std::size_t>(c)];
    b[static_cast<std::size_t>(k)] = s / at(k, k);
  }
  return true;
}

}  // namespace moody::convergence
