#pragma once
// One outer iteration in four sweeps over the grid, written once for every
// storage that holds a pass: the program's state in place (state_store.hpp)
// and the lanes of a batch (tools/batch/batch_pass.hpp).
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
// steps, with the same operands, in the same order, so the state after the
// four sweeps is bit for bit the state after the plain sequence, and the
// operations that may raise a floating-point fault come in the plain order
// too.  The work of each row hides under the latency of the sweep's
// divisions, and each array streams through the cache fewer times.  Values
// that feed a recurrence (P, Q, u, pl) are carried in locals so that the
// chain does not wait on a store and a reload.
//
// A storage St gives the pass its value type (St::Value: double, or a pack of
// lanes), the run's constants (PassConstants) and dt, and these accessors, i
// the index of a node or a face:
//
//   grid       A(i) Ae(i) D(i); Mp(i) G(i) as the grid keeps them, read only
//              when St::kFormsGrid is false (else the pass forms them)
//   before     u_in u0_in ue_in ue0_in p_in: the fields the pass starts from
//   after      u ue dP de and set_u set_u0 set_ue set_ue0 set_p set_pl
//              set_dP set_de
//   kept       set_Mp set_Me; set_row(set, i, row) of the QML and MASSA sets
//              and qml_aW qml_aP qml_aE; P Q and set_work(i, elimination)
//   streams    streams(sweep): an object whose ask(i) hints at the lines
//              the sweep reads kAhead elements ahead (a no-op where unwanted)
//
// A storage in place holds the fields before and after the pass in the same
// arrays: a value before the pass is read there before the pass writes it,
// except by residual sums, which such a storage does not measure.
//
// The residual sums of the pass (Sums: add_imbalance, add_change,
// add_correction) are a policy too: NoSums for the program and for a replay
// that must make the program's operations only.

#include <type_traits>

#include "flow/equations.hpp"

namespace moody {

// The run's constants, the same in every lane.
struct PassConstants {
  int N;
  double mi, ro, f, dx, pi, Uin;
};

// Tags: the set a row belongs to, and the sweep asking for its streams.
struct QmlSet {};
struct MassaSet {};
struct MomentumUp {};
struct MomentumDown {};
struct CorrectionUp {};
struct CorrectionDown {};

// How far ahead of a sweep its streams are asked for (state_store.hpp).
inline constexpr int kAhead = 64;

// The sums of a pass that measures nothing.
template <typename V>
struct NoSums {
  void add_imbalance(const V& /*bP*/) {}
  void add_change(const V& /*u*/, const V& /*before*/) {}
  void add_correction(const V& /*pl*/) {}
};

// Row 1 of a set, which starts the forward sweep.
struct FirstRow {};

// --- The operands of each equation, gathered from a storage -------------------

// The run's constants of anything that holds them under their symbols (the
// state, the grid of a batch).
template <typename T>
PassConstants constants_of(const T& x) {
  return {.N = x.N, .mi = x.mi, .ro = x.ro, .f = x.f, .dx = x.dx, .pi = x.pi, .Uin = x.Uin};
}

// Mp(i) and the conductance G(i) = Ae(i)*mi/dx as the pass uses them:
// formed where the storage forms the grid's values, else the grid's own.
enum class GridValue { kMp, kG };
template <GridValue which, typename St>
typename St::Value grid_value_at(const St& st, int i) {
  if constexpr (!St::kFormsGrid) {
    if constexpr (which == GridValue::kMp)
      return st.Mp(i);
    else
      return st.G(i);
  } else if constexpr (which == GridValue::kMp) {
    return volume_mass(st.A(i), st.dx, st.ro);
  } else {
    return viscous_conductance(st.Ae(i), st.mi, st.dx);
  }
}
template <typename St>
typename St::Value Mp_at(const St& st, int i) {
  return grid_value_at<GridValue::kMp>(st, i);
}
template <typename St>
typename St::Value G_at(const St& st, int i) {
  return grid_value_at<GridValue::kG>(st, i);
}

// Me(i) from the face velocity the pass starts from.
template <typename St>
typename St::Value Me_at(const St& st, int i) {
  return face_mass_flow(st.ue_in(i), st.Ae(i), st.ro);
}

// The operands of real node i's momentum row: those a sweep carries from
// the row before (or the plain step reads) given, the node's own from the
// fields the pass starts from.
template <typename St, typename V = typename St::Value>
MomentumNode<V> momentum_node(const St& st, int i, V G_w, V G_e, V Me_w, V Mp, V p_W, V p_E) {
  return {.G_w = G_w,
          .G_e = G_e,
          .Me_w = Me_w,
          .u = st.u_in(i),
          .u0 = st.u0_in(i),
          .D = st.D(i),
          .A = st.A(i),
          .Mp = Mp,
          .p_W = p_W,
          .p_E = p_E};
}

// Row i of the momentum equation, 1 <= i <= N, from the fields the pass
// starts from alone (for a row the storage does not keep).
template <typename St, typename V = typename St::Value>
Row<V> qml_row_at(const St& st, int i) {
  if (i == 1) return momentum_inlet_row(V(st.Uin));
  if (i == st.N) return momentum_outlet_row(st.u_in(st.N - 1), st.u_in(st.N - 2));
  // In the order of a sweep's operations.
  const V G_w = G_at(st, i - 1);
  const V Me_w = Me_at(st, i - 1);
  const V Mp = Mp_at(st, i);
  const V G_e = G_at(st, i);
  const MomentumNode<V> n =
      momentum_node(st, i, G_w, G_e, Me_w, Mp, st.p_in(i - 1), st.p_in(i + 1));
  return momentum_row(n, st.f, st.pi, st.dx, st.ro, st.dt);
}

// The operands of interior face i's momentum interpolation: the QML rows,
// masses and pressures of nodes i and i+1, with the velocities u(i-1), u(i),
// u(i+1), u(i+2) given (the sweep carries them in registers).
template <typename St, typename V = typename St::Value>
InterpolatedFace<V> interpolated_face(const St& st, int i, V u_W, V u_P, V u_E, V u_EE) {
  return {.u_W = u_W,
          .u_P = u_P,
          .u_E = u_E,
          .u_EE = u_EE,
          .aW_P = st.qml_aW(i),
          .aE_P = st.qml_aE(i),
          .aP_P = st.qml_aP(i),
          .aW_E = st.qml_aW(i + 1),
          .aE_E = st.qml_aE(i + 1),
          .aP_E = st.qml_aP(i + 1),
          .Mp_P = st.Mp(i),
          .Mp_E = st.Mp(i + 1),
          .p_P = st.p_in(i),
          .p_E = st.p_in(i + 1),
          .ue0 = st.ue0_in(i),
          .Ae = st.Ae(i)};
}

// dP(i) of a real node, from its momentum row as the storage keeps it.
template <typename St>
typename St::Value dP_at(const St& st, int i) {
  return correction_coefficient(st.A(i), st.qml_aP(i), st.qml_aW(i), st.qml_aE(i));
}

// Row i of the pressure-correction equation, 1 <= i <= N, from de and ue
// after the face-velocity step.
template <typename St, typename V = typename St::Value>
Row<V> massa_row_at(const St& st, int i) {
  if (i == 1 || i == st.N) return pinned_row<V>();
  return pressure_correction_row(st.Ae(i - 1), st.de(i - 1), st.ue(i - 1), st.Ae(i), st.de(i),
                                 st.ue(i));
}

// Stores row i of a set and takes it into the forward sweep: row 1 starts
// it, row i > 1 has phi(i-1) eliminated with `before`.  Keeps P(i), Q(i).
template <typename St, typename Set, typename Before, typename V>
Elimination<V> store_and_eliminate(const St& st, Set set, int i, const Before& before,
                                   const Row<V>& r) {
  st.set_row(set, i, r);
  Elimination<V> e;
  if constexpr (std::is_same_v<Before, FirstRow>) {
    e = first_elimination(r.aP, r.aE, r.bP);
  } else {
    e = forward_elimination(before, r.aP, r.aW, r.aE, r.bP);
  }
  st.set_work(i, e);
  return e;
}

// --- The four sweeps ---------------------------------------------------------------

// Up: momentum coefficients, Mp and Me, and the forward sweep of the QML set.
template <typename St>
void momentum_forward_sweep(const St& st) {
  using V = typename St::Value;
  const int N = st.N;

  // Inlet row and its first elimination.
  st.set_Mp(1, Mp_at(st, 1));
  V Me_w = Me_at(st, 1);  // Me of the west face of the next row
  st.set_Me(1, Me_w);
  Elimination<V> e =
      store_and_eliminate(st, QmlSet{}, 1, FirstRow{}, momentum_inlet_row(V(st.Uin)));

  // The viscous conductance of the west face is the east one of the row before.
  V G_w = G_at(st, 1);
  V p_W = st.p_in(1);
  V p_P = st.p_in(2);
  const auto ahead = st.streams(MomentumUp{});
  for (int i = 2; i <= N - 1; ++i) {
    if (i + kAhead <= N - 1) ahead.ask(i + kAhead);
    const V Mp = Mp_at(st, i);
    const V Me = Me_at(st, i);
    st.set_Mp(i, Mp);
    st.set_Me(i, Me);
    const V G_e = G_at(st, i);
    const V p_E = st.p_in(i + 1);
    const MomentumNode<V> n = momentum_node(st, i, G_w, G_e, Me_w, Mp, p_W, p_E);
    e = store_and_eliminate(st, QmlSet{}, i, e, momentum_row(n, st.f, st.pi, st.dx, st.ro, st.dt));

    G_w = G_e;
    Me_w = Me;
    p_W = p_P;
    p_P = p_E;
  }

  // Outlet row and its elimination.
  st.set_Mp(N, Mp_at(st, N));
  store_and_eliminate(st, QmlSet{}, N, e, momentum_outlet_row(st.u_in(N - 1), st.u_in(N - 2)));
}

// Down: u, then the face velocities and the velocity-correction coefficients.
template <typename St>
void momentum_back_substitution(const St& st) {
  using V = typename St::Value;
  const int N = st.N;

  // u(N) = Q(N), u(N-1) = P(N-1)*u(N) + Q(N-1).
  V u_EE = st.Q(N);  // u(i+3) once the loop runs
  st.set_u(N, u_EE);
  V u_E = back_substitution(st.P(N - 1), st.Q(N - 1), u_EE);
  st.set_u(N - 1, u_E);
  V dP_E = dP_at(st, N - 1);
  st.set_dP(N - 1, dP_E);
  st.set_de(N - 1, outlet_face_correction_coefficient(dP_E));

  // Outlet face: the inlet's volume flow.
  st.set_ue(N - 1, outlet_face_velocity(u_E, u_EE, st.Ae(1), V(st.Uin), st.Ae(N - 1)));

  // Node N-2 has no interior face on its east side before the loop starts.
  V u_P = back_substitution(st.P(N - 2), st.Q(N - 2), u_E);
  st.set_u(N - 2, u_P);
  V dP_P = dP_at(st, N - 2);
  st.set_dP(N - 2, dP_P);

  // Node i, then face j = i+1 whose four nodes are now all known.
  const auto ahead = st.streams(MomentumDown{});
  for (int i = N - 3; i >= 1; --i) {
    if (i - kAhead >= 1) ahead.ask(i - kAhead);
    const V u_W = back_substitution(st.P(i), st.Q(i), u_P);
    st.set_u(i, u_W);
    const int j = i + 1;
    st.set_ue(j, face_velocity(interpolated_face(st, j, u_W, u_P, u_E, u_EE), st.dt));

    V dP_W = V(0.0);  // dP(1) is never formed
    if (i >= 2) {
      dP_W = dP_at(st, i);
      st.set_dP(i, dP_W);
    }
    st.set_de(j, face_correction_coefficient(dP_E, dP_P));

    u_EE = u_E;
    u_E = u_P;
    u_P = u_W;
    dP_E = dP_P;
    dP_P = dP_W;
  }

  // Inlet face: the prescribed velocity, and the coefficient of node 2.
  st.set_ue(1, inlet_face_velocity(V(st.Uin)));
  st.set_de(1, inlet_face_correction_coefficient(st.dP(2)));
}

// Up: the MASSA set and its forward sweep, the imbalance of the residuals
// summed into `sums` as the rows are formed.
template <typename St, typename Sums>
void pressure_correction_forward_sweep(const St& st, Sums& sums) {
  using V = typename St::Value;
  const int N = st.N;

  // Row 1 pins pl(1) = 0.
  Elimination<V> e = store_and_eliminate(st, MassaSet{}, 1, FirstRow{}, pinned_row<V>());

  V Ae_w = st.Ae(1), de_w = st.de(1), ue_w = st.ue(1);
  const auto ahead = st.streams(CorrectionUp{});
  for (int i = 2; i <= N - 1; ++i) {
    if (i + kAhead <= N - 1) ahead.ask(i + kAhead);
    const V Ae_e = st.Ae(i), de_e = st.de(i), ue_e = st.ue(i);
    const Row<V> r = pressure_correction_row(Ae_w, de_w, ue_w, Ae_e, de_e, ue_e);
    sums.add_imbalance(r.bP);
    e = store_and_eliminate(st, MassaSet{}, i, e, r);

    Ae_w = Ae_e;
    de_w = de_e;
    ue_w = ue_e;
  }

  // Row N pins pl(N) = 0.
  store_and_eliminate(st, MassaSet{}, N, e, pinned_row<V>());
}

// Down: pl, then the correction step, and u0 and ue0 copied from u and ue;
// the two maxima of the residuals into `sums`, over the final pl and u.
template <typename St, typename Sums>
void pressure_correction_back_substitution(const St& st, Sums& sums) {
  using V = typename St::Value;
  const int N = st.N;

  // pl(N) = Q(N), then down to pl(N-2), all as the solver leaves them.
  const V pl_N = st.Q(N);
  const V pl_N1 = back_substitution(st.P(N - 1), st.Q(N - 1), pl_N);
  const V pl_N2 = back_substitution(st.P(N - 2), st.Q(N - 2), pl_N1);
  st.set_pl(N - 1, pl_N1);
  st.set_pl(N - 2, pl_N2);

  // The outlet correction, extrapolated.
  V pl_EE = extrapolated_correction(pl_N1, pl_N2);  // pl(k+1) of node k below
  st.set_pl(N, pl_EE);
  sums.add_correction(pl_EE);
  sums.add_correction(pl_N1);
  sums.add_correction(pl_N2);
  st.set_p(N, corrected_pressure(pl_EE, st.p_in(N)));

  // Node k = i+2 and face k once pl(i) is known, with the copies u0(k) = u(k),
  // ue0(k) = ue(k); faces 2..N-2 only.
  V pl_E = pl_N1;  // pl(k)
  V pl_P = pl_N2;  // pl(k-1)
  const auto ahead = st.streams(CorrectionDown{});
  for (int i = N - 3; i >= 1; --i) {
    if (i - kAhead >= 1) ahead.ask(i - kAhead);
    const V pl_W = back_substitution(st.P(i), st.Q(i), pl_P);
    st.set_pl(i, pl_W);
    const int k = i + 2;  // pl(k+1) = pl_EE, pl(k) = pl_E, pl(k-1) = pl_P
    st.set_p(k, corrected_pressure(pl_E, st.p_in(k)));
    const V u_k = corrected_node_velocity(st.u(k), pl_EE, pl_P, st.dP(k));
    st.set_u(k, u_k);
    st.set_u0(k, u_k);
    if (i >= 2) sums.add_correction(pl_W);  // pl(1) is formed again below
    sums.add_change(u_k, st.u_in(k));
    if (k <= N - 2) {
      const V ue_k = corrected_face_velocity(st.ue(k), pl_EE, pl_E, st.de(k));
      st.set_ue(k, ue_k);
      st.set_ue0(k, ue_k);
    }
    pl_EE = pl_E;
    pl_E = pl_P;
    pl_P = pl_W;
  }

  // The inlet correction, extrapolated from the solver's pl(2) and pl(3):
  // pl_E is pl(2), pl_EE is pl(3).
  const V pl_1 = extrapolated_correction(pl_E, pl_EE);
  st.set_pl(1, pl_1);
  sums.add_correction(pl_1);

  // Node 2 and face 2, then the fictitious nodes.
  st.set_p(2, corrected_pressure(pl_E, st.p_in(2)));
  const V u_2 = corrected_node_velocity(st.u(2), pl_EE, pl_1, st.dP(2));
  st.set_u(2, u_2);
  st.set_u0(2, u_2);
  sums.add_change(u_2, st.u_in(2));
  const V ue_2 = corrected_face_velocity(st.ue(2), pl_EE, pl_E, st.de(2));
  st.set_ue(2, ue_2);
  st.set_ue0(2, ue_2);
  st.set_p(1, corrected_pressure(pl_1, st.p_in(1)));

  const V u_1 = inlet_node_velocity(V(st.Uin), u_2);
  st.set_u(1, u_1);
  st.set_u0(1, u_1);
  const V u_N = outlet_node_velocity(st.u(N - 1), st.u(N - 2));
  st.set_u(N, u_N);
  st.set_u0(N, u_N);

  // The boundary faces keep the values of the face-velocity step.
  st.set_ue0(1, st.ue(1));
  st.set_ue0(N - 1, st.ue(N - 1));
}

}  // namespace moody
