// One outer iteration in four sweeps over the grid.
//
// The plain steps (coef.cpp) and the two solves run fifteen loops over the
// grid per iteration.  Here every step is folded into one of the two sweeps
// of a tridiagonal solve that needs its results or provides its inputs:
//
//   1. up:   momentum coefficients of row i, then its forward-sweep step;
//   2. down: back substitution for u(i), dP(i), then face i+1 (ue, de);
//   3. up:   pressure-correction coefficients of row i, then its forward step;
//   4. down: back substitution for pl(i), then the corrections of node i+2
//            and face i+2, and the copies into u0 and ue0.
//
// Every value comes from the same function of equations.hpp as in the plain
// steps, with the same operands, so the state after the four sweeps is bit
// for bit the state after the plain sequence.  The work of each row hides under the latency of
// the sweep's divisions, and each array streams through the cache fewer times.
// Values that feed a recurrence (P, Q, u, pl) are carried in locals so that
// the chain does not wait on a store and a reload.

#include "flow/sweeps.hpp"

#include <array>
#include <cstddef>

#include "flow/coef.hpp"
#include "flow/equations.hpp"

namespace moody {

namespace {
// A sweep streams nine to fifteen arrays at once, more than the processor's
// own prefetchers follow; on a grid larger than the caches it would wait for
// its data at every line.  So it asks for the lines kAhead elements ahead of
// it, in every array it streams, once per cache line.  A hint only: no value
// changes.
constexpr int kAhead = 64;

inline void prefetch(const double* p) {
#if defined(__GNUC__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

template <std::size_t n>
struct Streams {
  std::array<const double*, n> first;  // element 1 of each array

  // Starts loading element i of every array, for every eighth i (a line
  // holds eight elements).  1 <= i <= N-1, so face arrays are covered too.
  void ask(int i) const {
    if ((i & 7) != 0) return;
    for (const double* a : first)
      prefetch(a + (i - 1));
  }
};
template <typename... T>
Streams(T...) -> Streams<sizeof...(T)>;

// Stores row 1 of a set and starts the elimination from it.
Elimination<double> first_row(CoefficientSet& c, SolverWork& w, const Row<double>& r) {
  c.set(1, r);
  const Elimination<double> e = first_elimination(r.aP, r.aE, r.bP);
  w.P(1) = e.P;
  w.Q(1) = e.Q;
  return e;
}

// Stores row i of a set and eliminates phi(i-1) from it, keeping P(i), Q(i).
Elimination<double> next_row(CoefficientSet& c, SolverWork& w, int i,
                             const Elimination<double>& before, const Row<double>& r) {
  c.set(i, r);
  const Elimination<double> e = forward_elimination(before, r.aP, r.aW, r.aE, r.bP);
  w.P(i) = e.P;
  w.Q(i) = e.Q;
  return e;
}
}  // namespace

void momentum_forward_sweep(SimulationState& s) {
  const int N = s.N;
  const double mi = s.mi, ro = s.ro, f = s.f, dt = s.dt, dx = s.dx, pi = s.pi;
  CoefficientSet& q = s.QML;
  SolverWork& w = s.work;

  // Inlet row and its first elimination.
  s.Mp(1) = volume_mass(s.A(1), dx, ro);
  double Me_w = face_mass_flow(s.ue(1), s.Ae(1), ro);  // Me of the west face of the next row
  s.Me(1) = Me_w;
  Elimination<double> e = first_row(q, w, momentum_inlet_row(s.Uin));

  // The viscous conductance of the west face is the east one of the row before.
  double G_w = viscous_conductance(s.Ae(1), mi, dx);
  double p_W = s.p(1);
  double p_P = s.p(2);
  const Streams ahead{s.A.data(),  s.ue.data(), s.Ae.data(), s.u.data(),  s.D.data(),
                      s.p.data(),  s.u0.data(), s.Mp.data(), s.Me.data(), q.aW.data(),
                      q.aE.data(), q.aP.data(), q.bP.data(), w.P.data(),  w.Q.data()};
  for (int i = 2; i <= N - 1; ++i) {
    if (i + kAhead <= N - 1) ahead.ask(i + kAhead);
    const double Mp = volume_mass(s.A(i), dx, ro);
    const double Me = face_mass_flow(s.ue(i), s.Ae(i), ro);
    s.Mp(i) = Mp;
    s.Me(i) = Me;
    const double G_e = viscous_conductance(s.Ae(i), mi, dx);
    const double p_E = s.p(i + 1);
    const MomentumNode<double> n{.G_w = G_w,
                                 .G_e = G_e,
                                 .Me_w = Me_w,
                                 .u = s.u(i),
                                 .u0 = s.u0(i),
                                 .D = s.D(i),
                                 .A = s.A(i),
                                 .Mp = Mp,
                                 .p_W = p_W,
                                 .p_E = p_E};
    e = next_row(q, w, i, e, momentum_row(n, f, pi, dx, ro, dt));

    G_w = G_e;
    Me_w = Me;
    p_W = p_P;
    p_P = p_E;
  }

  // Outlet row and its elimination.
  s.Mp(N) = volume_mass(s.A(N), dx, ro);
  next_row(q, w, N, e, momentum_outlet_row(s.u(N - 1), s.u(N - 2)));
}

void momentum_back_substitution(SimulationState& s) {
  const int N = s.N;
  const double dt = s.dt, Uin = s.Uin;
  const CoefficientSet& q = s.QML;
  const SolverWork& w = s.work;

  const auto dP_of = [&](int i) {
    return correction_coefficient(s.A(i), q.aP(i), q.aW(i), q.aE(i));
  };

  // u(N) = Q(N), u(N-1) = P(N-1)*u(N) + Q(N-1).
  double u_EE = w.Q(N);  // u(i+3) once the loop runs
  s.u(N) = u_EE;
  double u_E = back_substitution(w.P(N - 1), w.Q(N - 1), u_EE);
  s.u(N - 1) = u_E;
  double dP_E = dP_of(N - 1);
  s.dP(N - 1) = dP_E;
  s.de(N - 1) = dP_E;

  // Outlet face: the inlet's volume flow.
  s.ue(N - 1) = outlet_face_velocity(u_E, u_EE, s.Ae(1), Uin, s.Ae(N - 1));

  // Node N-2 has no interior face on its east side before the loop starts.
  double u_P = back_substitution(w.P(N - 2), w.Q(N - 2), u_E);
  s.u(N - 2) = u_P;
  double dP_P = dP_of(N - 2);
  s.dP(N - 2) = dP_P;

  // Node i, then face j = i+1 whose four nodes are now all known.
  const Streams ahead{w.P.data(),  w.Q.data(),  s.A.data(),   q.aP.data(), q.aW.data(),
                      q.aE.data(), s.Mp.data(), s.ue0.data(), s.p.data(),  s.Ae.data(),
                      s.u.data(),  s.dP.data(), s.ue.data(),  s.de.data()};
  for (int i = N - 3; i >= 1; --i) {
    if (i - kAhead >= 1) ahead.ask(i - kAhead);
    const double u_W = back_substitution(w.P(i), w.Q(i), u_P);
    s.u(i) = u_W;
    const int j = i + 1;
    s.ue(j) = face_velocity(interpolated_face(s, j, u_W, u_P, u_E, u_EE), dt);

    // dP(1) is never formed.
    double dP_W = 0.0;
    if (i >= 2) {
      dP_W = dP_of(i);
      s.dP(i) = dP_W;
    }
    s.de(j) = face_correction_coefficient(dP_E, dP_P);

    u_EE = u_E;
    u_E = u_P;
    u_P = u_W;
    dP_E = dP_P;
    dP_P = dP_W;
  }

  // Inlet face: the prescribed velocity, and the coefficient of node 2.
  s.ue(1) = Uin;
  s.de(1) = s.dP(2);
}

void pressure_correction_forward_sweep(SimulationState& s) {
  const int N = s.N;
  CoefficientSet& m = s.MASSA;
  SolverWork& w = s.work;

  // Row 1 pins pl(1) = 0.
  Elimination<double> e = first_row(m, w, pinned_row<double>());

  double Ae_w = s.Ae(1), de_w = s.de(1), ue_w = s.ue(1);
  const Streams ahead{s.Ae.data(), s.de.data(), s.ue.data(), m.aW.data(), m.aE.data(),
                      m.aP.data(), m.bP.data(), w.P.data(),  w.Q.data()};
  for (int i = 2; i <= N - 1; ++i) {
    if (i + kAhead <= N - 1) ahead.ask(i + kAhead);
    const double Ae_e = s.Ae(i), de_e = s.de(i), ue_e = s.ue(i);
    e = next_row(m, w, i, e, pressure_correction_row(Ae_w, de_w, ue_w, Ae_e, de_e, ue_e));

    Ae_w = Ae_e;
    de_w = de_e;
    ue_w = ue_e;
  }

  // Row N pins pl(N) = 0.
  next_row(m, w, N, e, pinned_row<double>());
}

void pressure_correction_back_substitution(SimulationState& s) {
  const int N = s.N;
  const SolverWork& w = s.work;

  // pl(N) = Q(N), then down to pl(N-2), all as the solver leaves them.
  const double pl_N = w.Q(N);
  const double pl_N1 = back_substitution(w.P(N - 1), w.Q(N - 1), pl_N);
  const double pl_N2 = back_substitution(w.P(N - 2), w.Q(N - 2), pl_N1);
  s.pl(N - 1) = pl_N1;
  s.pl(N - 2) = pl_N2;

  // The outlet correction, extrapolated.
  double pl_EE = extrapolated_correction(pl_N1, pl_N2);  // pl(k+1) of node k below
  s.pl(N) = pl_EE;
  s.p(N) = corrected_pressure(pl_EE, s.p(N));

  // Node k = i+2 and face k once pl(i) is known, with the copies u0(k) = u(k),
  // ue0(k) = ue(k); faces 2..N-2 only.
  double pl_E = pl_N1;  // pl(k)
  double pl_P = pl_N2;  // pl(k-1)
  const Streams ahead{w.P.data(), w.Q.data(),  s.dP.data(), s.de.data(), s.p.data(),
                      s.u.data(), s.ue.data(), s.pl.data(), s.u0.data(), s.ue0.data()};
  for (int i = N - 3; i >= 1; --i) {
    if (i - kAhead >= 1) ahead.ask(i - kAhead);
    const double pl_W = back_substitution(w.P(i), w.Q(i), pl_P);
    s.pl(i) = pl_W;
    const int k = i + 2;  // pl(k+1) = pl_EE, pl(k) = pl_E, pl(k-1) = pl_P
    s.p(k) = corrected_pressure(pl_E, s.p(k));
    const double u_k = corrected_node_velocity(s.u(k), pl_EE, pl_P, s.dP(k));
    s.u(k) = u_k;
    s.u0(k) = u_k;
    if (k <= N - 2) {
      const double ue_k = corrected_face_velocity(s.ue(k), pl_EE, pl_E, s.de(k));
      s.ue(k) = ue_k;
      s.ue0(k) = ue_k;
    }
    pl_EE = pl_E;
    pl_E = pl_P;
    pl_P = pl_W;
  }

  // The inlet correction, extrapolated from the solver's pl(2) and pl(3):
  // pl_E is pl(2), pl_EE is pl(3).
  const double pl_1 = extrapolated_correction(pl_E, pl_EE);
  s.pl(1) = pl_1;

  // Node 2 and face 2, then the fictitious nodes.
  s.p(2) = corrected_pressure(pl_E, s.p(2));
  const double u_2 = corrected_node_velocity(s.u(2), pl_EE, pl_1, s.dP(2));
  s.u(2) = u_2;
  s.u0(2) = u_2;
  const double ue_2 = corrected_face_velocity(s.ue(2), pl_EE, pl_E, s.de(2));
  s.ue(2) = ue_2;
  s.ue0(2) = ue_2;
  s.p(1) = corrected_pressure(pl_1, s.p(1));

  s.u(1) = inlet_node_velocity(s.Uin, u_2);
  s.u0(1) = s.u(1);
  s.u(N) = outlet_node_velocity(s.u(N - 1), s.u(N - 2));
  s.u0(N) = s.u(N);

  // The boundary faces keep the values of the face-velocity step.
  s.ue0(1) = s.ue(1);
  s.ue0(N - 1) = s.ue(N - 1);
}

}  // namespace moody
