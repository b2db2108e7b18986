#pragma once
// One outer iteration of every lane of a group, in the four sweeps of the
// program's pass (src/flow/sweeps.cpp), on a value type V that holds one
// double of each lane (lanes.hpp).  Every value comes from the same function
// of equations.hpp, with the same operands, in the same order, as in the
// program's sweeps; so each lane leaves the bits the program's pass leaves,
// and the operations that may raise a floating-point fault come in the
// program's order too.
//
// The grid's masses and conductances are formed once for the batch, with
// the formulas the program evaluates in every pass; kFormGrid forms them
// here instead, where the program does, for a replay that must meet every
// operation in the program's order.
//
// Every function here is a template on V: instantiated with a type local to
// one translation unit, none is shared between instruction sets.

#include <cstddef>
#include <type_traits>

#include "flow/equations.hpp"
#include "kernels.hpp"
#include "residual_sums.hpp"

namespace moody::batch {

// One array of the group, element i holding the kLanes values of node i.
template <typename V>
struct LaneArray {
  double* first;
  V operator()(int i) const { return V::load(at(i)); }
  void set(int i, const V& v) const { v.store(at(i)); }
  double* at(int i) const { return first + static_cast<std::ptrdiff_t>(i - 1) * V::kLanes; }
};
template <typename V>
struct LaneInput {
  const double* first;
  V operator()(int i) const {
    return V::load(first + static_cast<std::ptrdiff_t>(i - 1) * V::kLanes);
  }
};

// What a pass keeps of each set (kernels.hpp).
template <typename V>
struct KeptMomentumRows {
  LaneArray<V> aW, aP, aE;
  void set(int i, const Row<V>& r) const {
    aW.set(i, r.aW);
    aP.set(i, r.aP);
    aE.set(i, r.aE);
  }
};
template <typename V>
struct KeptCorrectionRows {
  LaneArray<V> bP;
  void set(int i, const Row<V>& r) const { bP.set(i, r.bP); }
};

template <typename V>
struct PassArrays {
  V dt;
  LaneInput<V> u_in, u0_in, ue_in, ue0_in, p_in;
  LaneArray<V> u, u0, ue, ue0, p, pl, dP, de, P, Q;
  KeptMomentumRows<V> qml;
  KeptCorrectionRows<V> massa;

  explicit PassArrays(const GroupView& w)
      : dt(V::load(w.dt)),
        u_in{w.u_in},
        u0_in{w.u0_in},
        ue_in{w.ue_in},
        ue0_in{w.ue0_in},
        p_in{w.p_in},
        u{w.u},
        u0{w.u0},
        ue{w.ue},
        ue0{w.ue0},
        p{w.p},
        pl{w.pl},
        dP{w.dP},
        de{w.de},
        P{w.P},
        Q{w.Q},
        qml{{w.qW}, {w.qP}, {w.qE}},
        massa{{w.mB}} {}
};

// Mp(i) and the conductance Ae(i)*mi/dx, as the pass uses them.
template <typename V, bool kFormGrid>
V volume_mass_of(const GridView& g, int i) {
  if constexpr (kFormGrid) {
    return volume_mass(V(g.A[i - 1]), g.dx, g.ro);
  } else {
    return V(g.Mp[i - 1]);
  }
}
template <typename V, bool kFormGrid>
V conductance_of(const GridView& g, int i) {
  if constexpr (kFormGrid) {
    return viscous_conductance(V(g.Ae[i - 1]), g.mi, g.dx);
  } else {
    return V(g.G[i - 1]);
  }
}

// Stores row i of a set and eliminates phi(i-1) from it, keeping P(i), Q(i).
template <typename V, typename Kept>
Elimination<V> eliminate_row(const Kept& c, const PassArrays<V>& a, int i,
                             const Elimination<V>& before, const Row<V>& r) {
  c.set(i, r);
  const Elimination<V> e = forward_elimination(before, r.aP, r.aW, r.aE, r.bP);
  a.P.set(i, e.P);
  a.Q.set(i, e.Q);
  return e;
}
template <typename V, typename Kept>
Elimination<V> first_eliminated_row(const Kept& c, const PassArrays<V>& a, const Row<V>& r) {
  c.set(1, r);
  const Elimination<V> e = first_elimination(r.aP, r.aE, r.bP);
  a.P.set(1, e.P);
  a.Q.set(1, e.Q);
  return e;
}

// Up: Mp and Me, the momentum rows and the forward sweep of the QML set.
template <typename V, bool kFormGrid>
void momentum_forward_sweep(const GridView& g, const PassArrays<V>& a) {
  const int N = g.N;
  const double ro = g.ro, f = g.f, dx = g.dx, pi = g.pi;
  if constexpr (kFormGrid) volume_mass_of<V, true>(g, 1);
  V Me_w = face_mass_flow(a.ue_in(1), V(g.Ae[0]), ro);
  Elimination<V> e = first_eliminated_row(a.qml, a, momentum_inlet_row(V(g.Uin)));

  V G_w = conductance_of<V, kFormGrid>(g, 1);
  V p_W = a.p_in(1);
  V p_P = a.p_in(2);
  for (int i = 2; i <= N - 1; ++i) {
    const V Mp = volume_mass_of<V, kFormGrid>(g, i);
    const V Me = face_mass_flow(a.ue_in(i), V(g.Ae[i - 1]), ro);
    const V G_e = conductance_of<V, kFormGrid>(g, i);
    const V p_E = a.p_in(i + 1);
    const MomentumNode<V> n{.G_w = G_w,
                            .G_e = G_e,
                            .Me_w = Me_w,
                            .u = a.u_in(i),
                            .u0 = a.u0_in(i),
                            .D = V(g.D[i - 1]),
                            .A = V(g.A[i - 1]),
                            .Mp = Mp,
                            .p_W = p_W,
                            .p_E = p_E};
    e = eliminate_row(a.qml, a, i, e, momentum_row(n, f, pi, dx, ro, a.dt));

    G_w = G_e;
    Me_w = Me;
    p_W = p_P;
    p_P = p_E;
  }

  if constexpr (kFormGrid) volume_mass_of<V, true>(g, N);
  eliminate_row(a.qml, a, N, e, momentum_outlet_row(a.u_in(N - 1), a.u_in(N - 2)));
}

// Down: u, then the face velocities and the velocity-correction coefficients.
template <typename V>
void momentum_back_substitution(const GridView& g, const PassArrays<V>& a) {
  const int N = g.N;
  const KeptMomentumRows<V>& q = a.qml;
  const auto dP_of = [&](int i) {
    return correction_coefficient(V(g.A[i - 1]), q.aP(i), q.aW(i), q.aE(i));
  };

  V u_EE = a.Q(N);
  a.u.set(N, u_EE);
  V u_E = back_substitution(a.P(N - 1), a.Q(N - 1), u_EE);
  a.u.set(N - 1, u_E);
  V dP_E = dP_of(N - 1);
  a.dP.set(N - 1, dP_E);
  a.de.set(N - 1, dP_E);

  a.ue.set(N - 1, outlet_face_velocity(u_E, u_EE, V(g.Ae[0]), V(g.Uin), V(g.Ae[N - 2])));

  V u_P = back_substitution(a.P(N - 2), a.Q(N - 2), u_E);
  a.u.set(N - 2, u_P);
  V dP_P = dP_of(N - 2);
  a.dP.set(N - 2, dP_P);

  for (int i = N - 3; i >= 1; --i) {
    const V u_W = back_substitution(a.P(i), a.Q(i), u_P);
    a.u.set(i, u_W);
    const int j = i + 1;
    const InterpolatedFace<V> c{.u_W = u_W,
                                .u_P = u_P,
                                .u_E = u_E,
                                .u_EE = u_EE,
                                .aW_P = q.aW(j),
                                .aE_P = q.aE(j),
                                .aP_P = q.aP(j),
                                .aW_E = q.aW(j + 1),
                                .aE_E = q.aE(j + 1),
                                .aP_E = q.aP(j + 1),
                                .Mp_P = V(g.Mp[j - 1]),
                                .Mp_E = V(g.Mp[j]),
                                .p_P = a.p_in(j),
                                .p_E = a.p_in(j + 1),
                                .ue0 = a.ue0_in(j),
                                .Ae = V(g.Ae[j - 1])};
    a.ue.set(j, face_velocity(c, a.dt));

    V dP_W = V(0.0);  // dP(1) is never formed
    if (i >= 2) {
      dP_W = dP_of(i);
      a.dP.set(i, dP_W);
    }
    a.de.set(j, face_correction_coefficient(dP_E, dP_P));

    u_EE = u_E;
    u_E = u_P;
    u_P = u_W;
    dP_E = dP_P;
    dP_P = dP_W;
  }

  a.ue.set(1, V(g.Uin));
  a.de.set(1, a.dP(2));
}

// Up: the MASSA set and its forward sweep.
// The imbalance of the residuals summed into `sums` as the rows are formed.
template <typename V, typename Sums>
void pressure_correction_forward_sweep(const GridView& g, const PassArrays<V>& a, Sums& sums) {
  const int N = g.N;
  Elimination<V> e = first_eliminated_row(a.massa, a, pinned_row<V>());

  V Ae_w = V(g.Ae[0]), de_w = a.de(1), ue_w = a.ue(1);
  for (int i = 2; i <= N - 1; ++i) {
    const V Ae_e = V(g.Ae[i - 1]), de_e = a.de(i), ue_e = a.ue(i);
    const Row<V> r = pressure_correction_row(Ae_w, de_w, ue_w, Ae_e, de_e, ue_e);
    sums.add_imbalance(r.bP);
    e = eliminate_row(a.massa, a, i, e, r);
    Ae_w = Ae_e;
    de_w = de_e;
    ue_w = ue_e;
  }

  eliminate_row(a.massa, a, N, e, pinned_row<V>());
}

// Down: pl, then the correction step, and u0 and ue0 copied from u and ue.
// The two maxima of the residuals into `sums`, over the final pl and u.
template <typename V, typename Sums>
void pressure_correction_back_substitution(const GridView& g, const PassArrays<V>& a, Sums& sums) {
  const int N = g.N;

  const V pl_N = a.Q(N);
  const V pl_N1 = back_substitution(a.P(N - 1), a.Q(N - 1), pl_N);
  const V pl_N2 = back_substitution(a.P(N - 2), a.Q(N - 2), pl_N1);
  a.pl.set(N - 1, pl_N1);
  a.pl.set(N - 2, pl_N2);

  V pl_EE = extrapolated_correction(pl_N1, pl_N2);  // pl(k+1) of node k below
  a.pl.set(N, pl_EE);
  sums.add_correction(pl_EE);
  sums.add_correction(pl_N1);
  sums.add_correction(pl_N2);
  a.p.set(N, corrected_pressure(pl_EE, a.p_in(N)));

  V pl_E = pl_N1;  // pl(k)
  V pl_P = pl_N2;  // pl(k-1)
  for (int i = N - 3; i >= 1; --i) {
    const V pl_W = back_substitution(a.P(i), a.Q(i), pl_P);
    a.pl.set(i, pl_W);
    const int k = i + 2;
    a.p.set(k, corrected_pressure(pl_E, a.p_in(k)));
    const V u_k = corrected_node_velocity(a.u(k), pl_EE, pl_P, a.dP(k));
    a.u.set(k, u_k);
    a.u0.set(k, u_k);
    if (i >= 2) sums.add_correction(pl_W);  // pl(1) is formed again below
    sums.add_change(u_k, a.u_in(k));
    if (k <= N - 2) {
      const V ue_k = corrected_face_velocity(a.ue(k), pl_EE, pl_E, a.de(k));
      a.ue.set(k, ue_k);
      a.ue0.set(k, ue_k);
    }
    pl_EE = pl_E;
    pl_E = pl_P;
    pl_P = pl_W;
  }

  const V pl_1 = extrapolated_correction(pl_E, pl_EE);
  a.pl.set(1, pl_1);
  sums.add_correction(pl_1);

  a.p.set(2, corrected_pressure(pl_E, a.p_in(2)));
  const V u_2 = corrected_node_velocity(a.u(2), pl_EE, pl_1, a.dP(2));
  a.u.set(2, u_2);
  a.u0.set(2, u_2);
  sums.add_change(u_2, a.u_in(2));
  const V ue_2 = corrected_face_velocity(a.ue(2), pl_EE, pl_E, a.de(2));
  a.ue.set(2, ue_2);
  a.ue0.set(2, ue_2);
  a.p.set(1, corrected_pressure(pl_1, a.p_in(1)));

  const V u_1 = inlet_node_velocity(V(g.Uin), u_2);
  a.u.set(1, u_1);
  a.u0.set(1, u_1);
  const V u_N = outlet_node_velocity(a.u(N - 1), a.u(N - 2));
  a.u.set(N, u_N);
  a.u0.set(N, u_N);

  a.ue0.set(1, a.ue(1));
  a.ue0.set(N - 1, a.ue(N - 1));
}

// The sums of the replay in the program's order (kFormGrid), which makes
// only the program's operations: the sums' own could raise a flag the
// program never raises.
template <typename V>
struct NoSums {
  void add_imbalance(const V& /*bP*/) {}
  void add_change(const V& /*u*/, const V& /*before*/) {}
  void add_correction(const V& /*pl*/) {}
};

// The whole pass of the group, N >= 4, and the sums of the residuals of
// each lane into w.sums (imbalance, change, correction, kLanes each).
template <typename V, bool kFormGrid = false>
void batch_pass(const GridView& g, const GroupView& w) {
  const PassArrays<V> a(w);
  std::conditional_t<kFormGrid, NoSums<V>, ResidualSums<V>> sums;
  momentum_forward_sweep<V, kFormGrid>(g, a);
  momentum_back_substitution(g, a);
  pressure_correction_forward_sweep(g, a, sums);
  pressure_correction_back_substitution(g, a, sums);
  if constexpr (!kFormGrid) {
    sums.imbalance.store(w.sums);
    sums.change.store(w.sums + V::kLanes);
    sums.correction.store(w.sums + 2 * V::kLanes);
  }
}

}  // namespace moody::batch
