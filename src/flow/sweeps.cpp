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
// The values, their formulas and their order of evaluation are those of the
// plain steps, so the state after the four sweeps is bit for bit the state
// after the plain sequence.  The work of each row hides under the latency of
// the sweep's divisions, and each array streams through the cache fewer times.
// Values that feed a recurrence (P, Q, u, pl) are carried in locals so that
// the chain does not wait on a store and a reload.

#include <array>
#include <cstddef>

#include "flow/coef.hpp"
#include "flow/solver.hpp"

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
}  // namespace

void momentum_forward_sweep(SimulationState& s) {
  const int N = s.N;
  const double mi = s.mi, ro = s.ro, f = s.f, dt = s.dt, dx = s.dx, pi = s.pi;
  CoefficientSet& q = s.QML;
  const SweepWork w = sweep_work(N);

  // Inlet row (0, 1, -1, 2*Uin) and its forward step P(1) = aE/aP, Q(1) = bP/aP.
  s.Mp(1) = s.A(1) * dx * ro;
  double Me_w = s.ue(1) * s.Ae(1) * ro;  // Me of the west face of the next row
  s.Me(1) = Me_w;
  q.aW(1) = 0.0;
  q.aE(1) = -1.0;
  q.aP(1) = 1.0;
  q.bP(1) = 2.0 * s.Uin;
  double P = q.aE(1) / q.aP(1);
  double Q = q.bP(1) / q.aP(1);
  w.P(1) = P;
  w.Q(1) = Q;

  // Ae(i-1)*mi/dx, the viscous conductance of the west face, is the east one
  // of the row before.
  double G_w = s.Ae(1) * mi / dx;
  double p_w = s.p(1);
  double p_P = s.p(2);
  const Streams ahead{s.A.data(),  s.ue.data(), s.Ae.data(), s.u.data(),  s.D.data(),
                      s.p.data(),  s.u0.data(), s.Mp.data(), s.Me.data(), q.aW.data(),
                      q.aE.data(), q.aP.data(), q.bP.data(), w.p,         w.q};
  for (int i = 2; i <= N - 1; ++i) {
    if (i + kAhead <= N - 1) ahead.ask(i + kAhead);
    // Mp(i) = A(i)*dx*ro,  Me(i) = ue(i)*Ae(i)*ro
    const double Mp = s.A(i) * dx * ro;
    const double Me = s.ue(i) * s.Ae(i) * ro;
    s.Mp(i) = Mp;
    s.Me(i) = Me;
    // aW = Ae(i-1)*mi/dx + Me(i-1),  aE = Ae(i)*mi/dx
    const double G_e = s.Ae(i) * mi / dx;
    const double aW = G_w + Me_w;
    const double aE = G_e;
    // Ff = u(i)*D(i)*f*pi*dx*ro*0.125,  Ct = Mp(i)/dt,  aP = aW + aE + Ff + Ct
    const double Ff = s.u(i) * s.D(i) * f * pi * dx * ro * 0.125;
    const double Ct = Mp / dt;
    const double aP = aW + aE + Ff + Ct;
    // St = Mp(i)*u0(i)/dt,  Sp = -(p(i+1) - p(i-1))*A(i)*0.5,  bP = Sp + St
    const double p_e = s.p(i + 1);
    const double St = Mp * s.u0(i) / dt;
    const double Sp = -(p_e - p_w) * s.A(i) * 0.5;
    const double bP = Sp + St;
    q.aW(i) = aW;
    q.aE(i) = aE;
    q.aP(i) = aP;
    q.bP(i) = bP;

    // d = aP(i) - P(i-1)*aW(i),  P(i) = aE(i)/d,  Q(i) = (Q(i-1)*aW(i) + bP(i))/d
    const double d = aP - P * aW;
    P = aE / d;
    Q = (Q * aW + bP) / d;
    w.P(i) = P;
    w.Q(i) = Q;

    G_w = G_e;
    Me_w = Me;
    p_w = p_P;
    p_P = p_e;
  }

  // Outlet row (1, 1, 0, u(N-1) - u(N-2)) and its forward step.
  s.Mp(N) = s.A(N) * dx * ro;
  q.aW(N) = 1.0;
  q.aE(N) = 0.0;
  q.aP(N) = 1.0;
  q.bP(N) = s.u(N - 1) - s.u(N - 2);
  const double d = q.aP(N) - P * q.aW(N);
  w.P(N) = q.aE(N) / d;
  w.Q(N) = (Q * q.aW(N) + q.bP(N)) / d;
}

void momentum_back_substitution(SimulationState& s) {
  const int N = s.N;
  const double dt = s.dt, Uin = s.Uin;
  const CoefficientSet& q = s.QML;
  const SweepWork w = sweep_work(N);

  // dP(i) = A(i) / ((aP(i) - aW(i)) - aE(i))
  auto dP_of = [&](int i) { return s.A(i) / (q.aP(i) - q.aW(i) - q.aE(i)); };

  // u(N) = Q(N), u(N-1) = P(N-1)*u(N) + Q(N-1).
  double u_EE = w.Q(N);  // u(i+2) once the loop runs
  s.u(N) = u_EE;
  double u_E = w.P(N - 1) * u_EE + w.Q(N - 1);
  s.u(N - 1) = u_E;
  double dP_E = dP_of(N - 1);
  s.dP(N - 1) = dP_E;
  s.de(N - 1) = dP_E;

  // Outlet face: the mean of its nodes, scaled to the inlet's volume flow,
  // r = Ae(1)*Uin / (Ae(N-1)*ue(N-1)).
  const double ue_mean = (u_E + u_EE) * 0.5;
  const double r = s.Ae(1) * Uin / (s.Ae(N - 1) * ue_mean);
  s.ue(N - 1) = r * ue_mean;

  // Node N-2 has no interior face on its east side before the loop starts.
  double u_P = w.P(N - 2) * u_E + w.Q(N - 2);
  s.u(N - 2) = u_P;
  double dP_P = dP_of(N - 2);
  s.dP(N - 2) = dP_P;

  // Node i, then face j = i+1 whose four nodes are now all known.
  const Streams ahead{w.p,         w.q,         s.A.data(),   q.aP.data(), q.aW.data(),
                      q.aE.data(), s.Mp.data(), s.ue0.data(), s.p.data(),  s.Ae.data(),
                      s.u.data(),  s.dP.data(), s.ue.data(),  s.de.data()};
  for (int i = N - 3; i >= 1; --i) {
    if (i - kAhead >= 1) ahead.ask(i - kAhead);
    const double u_W = w.P(i) * u_P + w.Q(i);
    s.u(i) = u_W;
    const int j = i + 1;

    // Face j by momentum interpolation:
    //   S(j) = u(j-1)*aW(j) + u(j+1)*aE(j),  S(j+1) = u(j+2)*aE(j+1) + aW(j+1)*u(j),
    //   R = (Mp(j+1) + Mp(j))*ue0(j)/dt,
    //   ue(j) = (R + S(j) + S(j+1) - (p(j+1) - p(j))*Ae(j)*2) / (aP(j+1) + aP(j))
    const double Sj = u_W * q.aW(j) + u_E * q.aE(j);
    const double Sj1 = u_EE * q.aE(j + 1) + q.aW(j + 1) * u_P;
    const double R = (s.Mp(j + 1) + s.Mp(j)) * s.ue0(j) / dt;
    const double numerator = R + Sj + Sj1 - (s.p(j + 1) - s.p(j)) * s.Ae(j) * 2.0;
    s.ue(j) = numerator / (q.aP(j + 1) + q.aP(j));

    // de(j) = (dP(j+1) + dP(j))*0.5; dP(1) is never formed.
    double dP_W = 0.0;
    if (i >= 2) {
      dP_W = dP_of(i);
      s.dP(i) = dP_W;
    }
    s.de(j) = (dP_E + dP_P) * 0.5;

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
  const SweepWork w = sweep_work(N);

  // Row 1 pins pl(1) = 0: P(1) = 0/1, Q(1) = 0/1.
  m.aW(1) = 0.0;
  m.aE(1) = 0.0;
  m.aP(1) = 1.0;
  m.bP(1) = 0.0;
  double P = m.aE(1) / m.aP(1);
  double Q = m.bP(1) / m.aP(1);
  w.P(1) = P;
  w.Q(1) = Q;

  double Ae_w = s.Ae(1), de_w = s.de(1), ue_w = s.ue(1);
  const Streams ahead{s.Ae.data(), s.de.data(), s.ue.data(), m.aW.data(), m.aE.data(),
                      m.aP.data(), m.bP.data(), w.p,         w.q};
  for (int i = 2; i <= N - 1; ++i) {
    if (i + kAhead <= N - 1) ahead.ask(i + kAhead);
    // aW = Ae(i-1)*de(i-1),  aE = de(i)*Ae(i),  aP = aE + aW,
    // bP = Ae(i-1)*ue(i-1) - ue(i)*Ae(i)
    const double Ae_e = s.Ae(i), de_e = s.de(i), ue_e = s.ue(i);
    const double aW = Ae_w * de_w;
    const double aE = de_e * Ae_e;
    const double aP = aE + aW;
    const double bP = Ae_w * ue_w - ue_e * Ae_e;
    m.aW(i) = aW;
    m.aE(i) = aE;
    m.aP(i) = aP;
    m.bP(i) = bP;

    const double d = aP - P * aW;
    P = aE / d;
    Q = (Q * aW + bP) / d;
    w.P(i) = P;
    w.Q(i) = Q;

    Ae_w = Ae_e;
    de_w = de_e;
    ue_w = ue_e;
  }

  // Row N pins pl(N) = 0.
  m.aW(N) = 0.0;
  m.aE(N) = 0.0;
  m.aP(N) = 1.0;
  m.bP(N) = 0.0;
  const double d = m.aP(N) - P * m.aW(N);
  w.P(N) = m.aE(N) / d;
  w.Q(N) = (Q * m.aW(N) + m.bP(N)) / d;
}

void pressure_correction_back_substitution(SimulationState& s) {
  const int N = s.N;
  const SweepWork w = sweep_work(N);

  // pl(N) = Q(N), then down to pl(N-2), all as the solver leaves them.
  const double pl_N = w.Q(N);
  const double pl_N1 = w.P(N - 1) * pl_N + w.Q(N - 1);
  const double pl_N2 = w.P(N - 2) * pl_N1 + w.Q(N - 2);
  s.pl(N - 1) = pl_N1;
  s.pl(N - 2) = pl_N2;

  // Outlet correction extrapolated: pl(N) = pl(N-1)*2 - pl(N-2).
  double pl_EE = pl_N1 * 2.0 - pl_N2;  // pl(k+1) of node k below
  s.pl(N) = pl_EE;
  s.p(N) = pl_EE + s.p(N);

  // Node k = i+2 and face k once pl(i) is known:
  //   p(k) = pl(k) + p(k),  u(k) = u(k) - (pl(k+1) - pl(k-1))*dP(k)*0.5,
  //   ue(k) = ue(k) - (pl(k+1) - pl(k))*de(k)   (faces 2..N-2 only)
  // with the copies u0(k) = u(k), ue0(k) = ue(k).
  double pl_E = pl_N1;  // pl(k)
  double pl_P = pl_N2;  // pl(k-1)
  const Streams ahead{w.p,        w.q,         s.dP.data(), s.de.data(), s.p.data(),
                      s.u.data(), s.ue.data(), s.pl.data(), s.u0.data(), s.ue0.data()};
  for (int i = N - 3; i >= 1; --i) {
    if (i - kAhead >= 1) ahead.ask(i - kAhead);
    const double pl_W = w.P(i) * pl_P + w.Q(i);
    s.pl(i) = pl_W;
    const int k = i + 2;  // pl(k+1) = pl_EE, pl(k) = pl_E, pl(k-1) = pl_P
    s.p(k) = pl_E + s.p(k);
    const double u_k = s.u(k) - (pl_EE - pl_P) * s.dP(k) * 0.5;
    s.u(k) = u_k;
    s.u0(k) = u_k;
    if (k <= N - 2) {
      const double ue_k = s.ue(k) - (pl_EE - pl_E) * s.de(k);
      s.ue(k) = ue_k;
      s.ue0(k) = ue_k;
    }
    pl_EE = pl_E;
    pl_E = pl_P;
    pl_P = pl_W;
  }

  // Inlet correction extrapolated from the solver's pl(2) and pl(3):
  // pl(1) = pl(2)*2 - pl(3).  pl_E is pl(2), pl_EE is pl(3).
  const double pl_1 = pl_E * 2.0 - pl_EE;
  s.pl(1) = pl_1;

  // Node 2 and face 2, then the fictitious nodes.
  s.p(2) = pl_E + s.p(2);
  const double u_2 = s.u(2) - (pl_EE - pl_1) * s.dP(2) * 0.5;
  s.u(2) = u_2;
  s.u0(2) = u_2;
  const double ue_2 = s.ue(2) - (pl_EE - pl_E) * s.de(2);
  s.ue(2) = ue_2;
  s.ue0(2) = ue_2;
  s.p(1) = pl_1 + s.p(1);

  // u(1) = Uin*2 - u(2),  u(N) = (u(N-1) - u(N-2)) + u(N-1)
  s.u(1) = s.Uin * 2.0 - u_2;
  s.u0(1) = s.u(1);
  s.u(N) = (s.u(N - 1) - s.u(N - 2)) + s.u(N - 1);
  s.u0(N) = s.u(N);

  // The boundary faces keep the values of the face-velocity step.
  s.ue0(1) = s.ue(1);
  s.ue0(N - 1) = s.ue(N - 1);
}

}  // namespace moody
