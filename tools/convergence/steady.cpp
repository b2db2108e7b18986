#include "steady.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "banded.hpp"
#include "columns.hpp"
#include "control/memory.hpp"
#include "control/start.hpp"
#include "dual.hpp"
#include "duct_solution.hpp"
#include "flow/pass.hpp"
#include "report.hpp"
#include "text_format.hpp"

namespace moody::convergence {

namespace {

// The unknowns u(i), p(i) of node i are columns 2(i-1) and 2(i-1)+1; the
// equations of node i are rows 2(i-1) (its u row) and 2(i-1)+1 (a pressure
// row: an extrapolation, the level, or the interpolation of face i-1).
// Every row reaches at most five columns to the left and four to the right,
// so ten colours of columns give the whole Jacobian from one evaluation.
constexpr int kBelow = 5;
constexpr int kAbove = 4;
constexpr std::size_t kColours = kBelow + kAbove + 1;
using D = Dual<kColours>;

int u_col(int i) {
  return 2 * (i - 1);
}
int p_col(int i) {
  return 2 * (i - 1) + 1;
}

// The storage of the pass, seen at a fixed point: the fields the pass starts
// from are those it ends with, dt is infinite, the grid is the state's, and
// the momentum rows are those of the current fields.
template <typename V>
struct SteadyStore {
  using Value = V;
  static constexpr bool kFormsGrid = true;

  const SimulationState& s;
  const std::vector<V>& u_;
  const std::vector<V>& p_;
  const std::vector<double>& ue_;  // by continuity, faces 1..N-1
  std::vector<moody::Row<V>>& rows;

  int N;
  double mi, ro, f, dx, pi, Uin;
  double dt = std::numeric_limits<double>::infinity();

  V u_in(int i) const { return u_[static_cast<std::size_t>(i)]; }
  V u0_in(int i) const { return u_in(i); }
  V p_in(int i) const { return p_[static_cast<std::size_t>(i)]; }
  V ue_in(int i) const { return V(ue_[static_cast<std::size_t>(i)]); }
  V ue0_in(int i) const { return ue_in(i); }
  V A(int i) const { return V(s.A(i)); }
  V Ae(int i) const { return V(s.Ae(i)); }
  V D(int i) const { return V(s.D(i)); }
  V Mp(int i) const { return volume_mass(A(i), dx, ro); }
  V qml_aW(int i) const { return rows[static_cast<std::size_t>(i)].aW; }
  V qml_aE(int i) const { return rows[static_cast<std::size_t>(i)].aE; }
  V qml_aP(int i) const { return rows[static_cast<std::size_t>(i)].aP; }
};

// What a Newton step needs of the grid.
struct Problem {
  const SimulationState& s;
  std::vector<double> ue;  // 1..N-1
};

// The residual of row `r` at phi(i-1), phi(i), phi(i+1).
template <typename V>
V row_residual(const moody::Row<V>& r, const V& west, const V& here, const V& east) {
  return r.aP * here - (r.aW * west + r.aE * east + r.bP);
}

// The residuals of the steady equations at u, p (1..N), in the rows above.
template <typename V>
void residuals(const Problem& pr, const std::vector<V>& u, const std::vector<V>& p,
               std::vector<moody::Row<V>>& rows, std::vector<V>& F) {
  const SimulationState& s = pr.s;
  const int N = s.N;
  SteadyStore<V> st{s, u, p, pr.ue, rows, N, s.mi, s.ro, s.f, s.dx, s.pi, s.Uin};
  for (int i = 1; i <= N; ++i)
    rows[static_cast<std::size_t>(i)] = qml_row_at(st, i);
  const auto at = [](const std::vector<V>& v, int i) -> const V& {
    return v[static_cast<std::size_t>(i)];
  };
  const auto row = [&rows](int i) -> const moody::Row<V>& {
    return rows[static_cast<std::size_t>(i)];
  };
  const auto F_at = [&F](int r) -> V& { return F[static_cast<std::size_t>(r)]; };

  F_at(u_col(1)) = row_residual(row(1), V(0.0), at(u, 1), at(u, 2));
  for (int i = 2; i <= N - 1; ++i)
    F_at(u_col(i)) = row_residual(row(i), at(u, i - 1), at(u, i), at(u, i + 1));
  F_at(u_col(N)) = row_residual(row(N), at(u, N - 1), at(u, N), V(0.0));

  F_at(p_col(1)) = at(p, 1) - extrapolated_correction(at(p, 2), at(p, 3));
  F_at(p_col(2)) = at(p, 2);
  for (int i = 3; i <= N - 1; ++i) {
    const int m = i - 1;  // the face between nodes i-1 and i
    const InterpolatedFace<V> c =
        interpolated_face(st, m, at(u, m - 1), at(u, m), at(u, m + 1), at(u, m + 2));
    F_at(p_col(i)) = face_velocity(c, st.dt) - V(pr.ue[static_cast<std::size_t>(m)]);
  }
  F_at(p_col(N)) = at(p, N) - extrapolated_correction(at(p, N - 1), at(p, N - 2));
}

// The outlet pressure of the program's report: the section values, from
// the inlet's.
double outlet_of(const std::vector<double>& p, int N) {
  return section_value(p[static_cast<std::size_t>(N - 1)], p[static_cast<std::size_t>(N)]) -
         section_value(p[1], p[2]);
}

// The start: the exact 1-D velocity at the real nodes, the pressure by the
// trapezoidal rule on the exact gradient, the fictitious nodes as the
// boundary rows and the extrapolation make them.
void exact_start(const SimulationState& s, std::vector<double>& u, std::vector<double>& p) {
  const int N = s.N;
  for (int i = 2; i <= N - 1; ++i)
    u[static_cast<std::size_t>(i)] = verification::velocity(s, s.x(i));
  p[2] = 0.0;
  for (int i = 3; i <= N - 1; ++i) {
    const double a = s.x(i - 1), b = s.x(i);
    p[static_cast<std::size_t>(i)] =
        p[static_cast<std::size_t>(i - 1)] +
        0.5 * (verification::pressure_gradient(s, a) + verification::pressure_gradient(s, b)) *
            (b - a);
  }
  const auto n = [](int i) { return static_cast<std::size_t>(i); };
  u[1] = inlet_node_velocity(s.Uin, u[2]);
  u[n(N)] = outlet_node_velocity(u[n(N - 1)], u[n(N - 2)]);
  p[1] = extrapolated_correction(p[2], p[3]);
  p[n(N)] = extrapolated_correction(p[n(N - 1)], p[n(N - 2)]);
}

// The largest |F| of the u rows of the real nodes and of the face rows.
void largest_residuals(const std::vector<D>& F, int N, SteadySolution& out) {
  out.momentum_residual = 0.0;
  out.face_residual = 0.0;
  for (int i = 2; i <= N - 1; ++i)
    out.momentum_residual =
        std::max(out.momentum_residual, std::fabs(F[static_cast<std::size_t>(u_col(i))].v));
  for (int i = 3; i <= N - 1; ++i)
    out.face_residual =
        std::max(out.face_residual, std::fabs(F[static_cast<std::size_t>(p_col(i))].v));
}

// The fields as dual numbers, each unknown seeded in the colour of its
// column.
void seed(const std::vector<double>& u, const std::vector<double>& p, std::vector<D>& ud,
          std::vector<D>& pd) {
  for (std::size_t at = 1; at < u.size(); ++at) {
    const int i = static_cast<int>(at);
    ud[at] = D(u[at]);
    ud[at].d[static_cast<std::size_t>(u_col(i)) % kColours] = 1.0;
    pd[at] = D(p[at]);
    pd[at].d[static_cast<std::size_t>(p_col(i)) % kColours] = 1.0;
  }
}

// The Newton system J*step = -F from the residuals and their derivatives:
// within a row's band each colour is one column.
void newton_system(const std::vector<D>& F, Banded& J, std::vector<double>& step) {
  const int n = static_cast<int>(F.size());
  J.clear();
  for (int r = 0; r < n; ++r) {
    const D& Fr = F[static_cast<std::size_t>(r)];
    for (int c = std::max(0, r - kBelow); c <= std::min(n - 1, r + kAbove); ++c)
      J.at(r, c) = Fr.d[static_cast<std::size_t>(c) % kColours];
    step[static_cast<std::size_t>(r)] = -Fr.v;
  }
}

// Adds the Newton step to the fields; the largest change of a velocity,
// and the largest velocity.
std::pair<double, double> take_step(const std::vector<double>& step, std::vector<double>& u,
                                    std::vector<double>& p) {
  double du = 0.0, u_size = 0.0;
  for (std::size_t at = 1; at < u.size(); ++at) {
    const int i = static_cast<int>(at);
    const double du_i = step[static_cast<std::size_t>(u_col(i))];
    u[at] += du_i;
    p[at] += step[static_cast<std::size_t>(p_col(i))];
    du = std::max(du, std::fabs(du_i));
    u_size = std::max(u_size, std::fabs(u[at]));
  }
  return {du, u_size};
}

}  // namespace

std::uint64_t steady_bytes(int N) {
  const std::uint64_t n = static_cast<std::uint64_t>(N) + 1;
  const std::uint64_t rows = 2 * n;
  return state_bytes(N) + Banded::bytes(static_cast<int>(rows), kBelow, kAbove) +
         n * (2 * sizeof(D) + 4 * sizeof(D)) + rows * (sizeof(D) + sizeof(double)) +
         n * 3 * sizeof(double);
}

SteadySolution steady_solution(const Parameters& dados) {
  SteadySolution out;
  auto s = std::make_unique<SimulationState>();
  static_cast<Parameters&>(*s) = dados;
  const int N = s->N;
  if (N < 4) {
    out.failure = "the steady equations need N >= 4 (two real volumes)";
    return out;
  }
  require_memory(steady_bytes(N), format("the steady solution of N = %d", N));
  start_run(*s);

  const std::size_t nodes = static_cast<std::size_t>(N) + 1;
  const int n = 2 * N;
  Problem pr{*s, std::vector<double>(nodes, 0.0)};
  for (int i = 1; i <= N - 1; ++i)
    pr.ue[static_cast<std::size_t>(i)] = s->Ae(1) * s->Uin / s->Ae(i);

  std::vector<double> u(nodes, 0.0), p(nodes, 0.0);
  exact_start(*s, u, p);
  std::vector<D> ud(nodes), pd(nodes), F(static_cast<std::size_t>(n));
  std::vector<moody::Row<D>> rows(nodes);
  std::vector<double> step(static_cast<std::size_t>(n));
  Banded J(n, kBelow, kAbove);

  double before = outlet_of(p, N);
  double change_before = std::numeric_limits<double>::infinity();
  for (int k = 1; k <= kNewtonSteps; ++k) {
    seed(u, p, ud, pd);
    residuals(pr, ud, pd, rows, F);
    newton_system(F, J, step);
    if (!J.solve(step)) {
      out.failure = format("Newton step %d: the Jacobian is singular", k);
      return out;
    }
    const auto [du, u_size] = take_step(step, u, p);
    const double now = outlet_of(p, N);
    out.iterations = k;
    out.last_change = now - before;
    before = now;
    if (!std::isfinite(now) || !std::isfinite(du)) {
      out.failure = format("Newton step %d gives no finite field", k);
      return out;
    }
    // Converged when a step moves the velocities and the outlet pressure
    // by rounding only: then one step more is as good as this one.  The
    // rounding of the pressure is that of the terms of the rows, which are
    // of the dynamic pressure q where the outlet pressure is near zero (a
    // straight duct without friction).  Newton's steps shrink quadratically
    // until they reach that floor; a step no smaller than half the one
    // before, and already tiny, is the floor too.
    const double q = 0.5 * s->ro * s->Uin * s->Uin;
    const double scale = std::max(std::fabs(now), q);
    const double change = std::fabs(out.last_change);
    const bool at_floor = k >= 4 && change <= 1e-10 * scale && change >= 0.5 * change_before;
    change_before = change;
    if ((du <= 1e-13 * u_size && change <= 1e-13 * scale) || at_floor) {
      seed(u, p, ud, pd);
      residuals(pr, ud, pd, rows, F);
      largest_residuals(F, N, out);
      out.converged = true;
      out.outlet = now;
      return out;
    }
  }
  out.failure = format(
      "Newton's method does not settle in %d steps (the outlet pressure still "
      "moved by %.3g Pa in the last)",
      kNewtonSteps, out.last_change);
  return out;
}

int steady_run(const Parameters& dados) {
  const SteadySolution sol = steady_solution(dados);
  std::string t = format("case: N = %d; dt and itmax do not enter the steady equations\n", dados.N);
  if (!sol.converged) {
    t += "steady solution of the discrete equations: none: " + sol.failure + "\n";
    std::fputs(fit_columns(t).c_str(), stdout);
    return kExitNoConvergence;
  }
  t += format("steady solution of the discrete equations: %.12g Pa\n", sol.outlet);
  t += format(
      "Newton's method: %d step%s from the exact 1-D solution; the last moved the outlet "
      "pressure by %.2g Pa\n",
      sol.iterations, sol.iterations == 1 ? "" : "s", sol.last_change);
  t += format("residuals there: momentum rows %.2g N, face interpolations %.2g m/s\n",
              sol.momentum_residual, sol.face_residual);
  std::fputs(fit_columns(t).c_str(), stdout);
  return kExitConverged;
}

}  // namespace moody::convergence
