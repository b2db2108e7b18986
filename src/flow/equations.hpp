#pragma once
// The discretised equations, one small function each, in the symbols of the
// scheme.  Every path that evaluates an equation calls its function here: the
// plain steps (coef.cpp), the pass in four sweeps (pass.hpp), the tridiagonal
// solver (solver.cpp) and the inventory.
//
// Each function evaluates its products and sums left to right exactly as the
// equation in the comment above it is written; the results depend on that
// order bit for bit, so nothing here may be rearranged.  The value type T is
// double for a run of the program; a batch of independent runs may call the
// same functions on a vector of lanes, with the grid's constants as doubles.
//
// Rows follow the solver's convention
//   aP(i)*phi(i) = aW(i)*phi(i-1) + aE(i)*phi(i+1) + bP(i).

#include <cmath>

namespace moody {

// One row of a discretised equation.
template <typename T>
struct Row {
  T aW, aP, aE, bP;
};

// --- Duct geometry ---------------------------------------------------------------

// Diameter, growing linearly along the duct: D = x*cd + D0.
template <typename T>
inline T diameter(T x, double cd, double D0) {
  return x * cd + D0;
}

// Cross-section area, the square by the real power: A = D^2*pi*0.25.
template <typename T>
inline T area(T D, double pi) {
  return std::pow(D, 2.0) * pi * 0.25;
}

// --- Masses and conductances -------------------------------------------------

// Mass of a volume, the fictitious ones with a full width too: Mp = A*dx*ro.
template <typename T>
inline T volume_mass(T A, double dx, double ro) {
  return A * dx * ro;
}

// Mass flow through a face: Me = ue*Ae*ro.
template <typename T>
inline T face_mass_flow(T ue, T Ae, double ro) {
  return ue * Ae * ro;
}

// Viscous conductance of a face: Ae*mi/dx.
template <typename T>
inline T viscous_conductance(T Ae, double mi, double dx) {
  return Ae * mi / dx;
}

// --- Momentum equation (QML set) -----------------------------------------------

// Inlet row: u(1) = 2*Uin - u(2), so that the mean of nodes 1 and 2 is Uin.
template <typename T>
inline Row<T> momentum_inlet_row(T Uin) {
  return {T(0.0), T(1.0), T(-1.0), 2.0 * Uin};
}

// A real volume: upwind convection from the west, viscous diffusion, Darcy
// friction linearised with u(i), the transient term against u0, and the
// pressure difference of the neighbouring nodes on the node's area.
//   aW = G(i-1) + Me(i-1),  aE = G(i)              (G = Ae*mi/dx)
//   Ff = u(i)*D(i)*f*pi*dx*ro*0.125,  Ct = Mp(i)/dt,  aP = aW + aE + Ff + Ct
//   St = Mp(i)*u0(i)/dt,  Sp = -(p(i+1) - p(i-1))*A(i)*0.5,  bP = Sp + St
template <typename T>
struct MomentumNode {
  T G_w, G_e;  // viscous conductances of the west and east faces
  T Me_w;      // mass flow through the west face
  T u, u0, D, A, Mp;
  T p_W, p_E;  // pressures of the west and east neighbours
};
template <typename T, typename Dt>
inline Row<T> momentum_row(const MomentumNode<T>& n, double f, double pi, double dx, double ro,
                           Dt dt) {
  Row<T> r;
  r.aW = n.G_w + n.Me_w;
  r.aE = n.G_e;
  const T Ff = n.u * n.D * f * pi * dx * ro * 0.125;
  const T Ct = n.Mp / dt;
  r.aP = r.aW + r.aE + Ff + Ct;
  const T St = n.Mp * n.u0 / dt;
  const T Sp = -(n.p_E - n.p_W) * n.A * 0.5;
  r.bP = Sp + St;
  return r;
}

// Outlet row: u(N) = u(N-1) + (u(N-1) - u(N-2)), the slope lagged one pass.
template <typename T>
inline Row<T> momentum_outlet_row(T u_Nm1, T u_Nm2) {
  return {T(1.0), T(1.0), T(0.0), u_Nm1 - u_Nm2};
}

// --- Face velocities ------------------------------------------------------------

// An interior face i by momentum interpolation: the face's own momentum
// equation with the mean coefficients of the nodes on either side, times 2.
//   S(i) = u(i-1)*aW(i) + u(i+1)*aE(i),  S(i+1) = u(i+2)*aE(i+1) + aW(i+1)*u(i)
//   R = (Mp(i+1) + Mp(i))*ue0(i)/dt
//   ue(i) = (R + S(i) + S(i+1) - (p(i+1) - p(i))*Ae(i)*2) / (aP(i+1) + aP(i))
template <typename T>
struct InterpolatedFace {
  T u_W, u_P, u_E, u_EE;  // u(i-1), u(i), u(i+1), u(i+2)
  T aW_P, aE_P, aP_P;     // momentum row of node i
  T aW_E, aE_E, aP_E;     // momentum row of node i+1
  T Mp_P, Mp_E;           // Mp(i), Mp(i+1)
  T p_P, p_E;             // p(i), p(i+1)
  T ue0, Ae;              // of face i
};
template <typename T, typename Dt>
inline T face_velocity(const InterpolatedFace<T>& c, Dt dt) {
  const T Si = c.u_W * c.aW_P + c.u_E * c.aE_P;
  const T Si1 = c.u_EE * c.aE_E + c.aW_E * c.u_P;
  const T R = (c.Mp_E + c.Mp_P) * c.ue0 / dt;
  const T numerator = R + Si + Si1 - (c.p_E - c.p_P) * c.Ae * 2.0;
  return numerator / (c.aP_E + c.aP_P);
}

// Inlet face: the prescribed velocity, ue(1) = Uin.
template <typename T>
inline T inlet_face_velocity(T Uin) {
  return Uin;
}

// Outlet face: the mean of its two nodes, scaled so that the face carries the
// inlet's volume flow:  m = (u(N-1) + u(N))*0.5,
//   r = Ae(1)*Uin / (Ae(N-1)*m),  ue(N-1) = r*m.
template <typename T>
inline T outlet_face_velocity(T u_Nm1, T u_N, T Ae_1, T Uin, T Ae_Nm1) {
  const T mean = (u_Nm1 + u_N) * 0.5;
  const T r = Ae_1 * Uin / (Ae_Nm1 * mean);
  return r * mean;
}

// --- Velocity-correction coefficients (SIMPLEC) ---------------------------------

// dP(i) = A(i) / ((aP(i) - aW(i)) - aE(i)).
template <typename T>
inline T correction_coefficient(T A, T aP, T aW, T aE) {
  return A / (aP - aW - aE);
}

// An interior face: the mean of its two nodes, de(i) = (dP(i+1) + dP(i))*0.5.
template <typename T>
inline T face_correction_coefficient(T dP_E, T dP_P) {
  return (dP_E + dP_P) * 0.5;
}

// The boundary faces copy the real node beside them: de(1) = dP(2) on the
// inlet face, de(N-1) = dP(N-1) on the outlet face.
template <typename T>
inline T inlet_face_correction_coefficient(T dP_2) {
  return dP_2;
}
template <typename T>
inline T outlet_face_correction_coefficient(T dP_Nm1) {
  return dP_Nm1;
}

// --- Pressure-correction equation (MASSA set) -----------------------------------

// The fictitious nodes keep pl = 0: the row (0, 1, 0, 0).
template <typename T>
inline Row<T> pinned_row() {
  return {T(0.0), T(1.0), T(0.0), T(0.0)};
}

// Volume balance of a real volume once its face velocities are corrected by
// de*(pl(i) - pl(i+1)):
//   aW = Ae(i-1)*de(i-1),  aE = de(i)*Ae(i),  aP = aE + aW,
//   bP = Ae(i-1)*ue(i-1) - ue(i)*Ae(i)   (the net volume inflow)
template <typename T>
inline Row<T> pressure_correction_row(T Ae_w, T de_w, T ue_w, T Ae_e, T de_e, T ue_e) {
  Row<T> r;
  r.aW = Ae_w * de_w;
  r.aE = de_e * Ae_e;
  r.aP = r.aE + r.aW;
  r.bP = Ae_w * ue_w - ue_e * Ae_e;
  return r;
}

// --- Correction step ------------------------------------------------------------

// A fictitious node's correction, extrapolated linearly from the two real
// nodes beside it: pl(1) = pl(2)*2 - pl(3),  pl(N) = pl(N-1)*2 - pl(N-2).
template <typename T>
inline T extrapolated_correction(T pl_near, T pl_far) {
  return pl_near * 2.0 - pl_far;
}

// Full correction, no under-relaxation: p(i) = pl(i) + p(i).
template <typename T>
inline T corrected_pressure(T pl, T p) {
  return pl + p;
}

// A real node: u(i) = u(i) - (pl(i+1) - pl(i-1))*dP(i)*0.5.
template <typename T>
inline T corrected_node_velocity(T u, T pl_E, T pl_W, T dP) {
  return u - (pl_E - pl_W) * dP * 0.5;
}

// An interior face: ue(i) = ue(i) - (pl(i+1) - pl(i))*de(i).
template <typename T>
inline T corrected_face_velocity(T ue, T pl_E, T pl_P, T de) {
  return ue - (pl_E - pl_P) * de;
}

// The inlet node after the correction: u(1) = Uin*2 - u(2).
template <typename T>
inline T inlet_node_velocity(T Uin, T u_2) {
  return Uin * 2.0 - u_2;
}

// The outlet node after the correction: u(N) = (u(N-1) - u(N-2)) + u(N-1).
template <typename T>
inline T outlet_node_velocity(T u_Nm1, T u_Nm2) {
  return (u_Nm1 - u_Nm2) + u_Nm1;
}

// --- Tridiagonal solver (Thomas, no pivoting) -----------------------------------

// The recurrence phi(i) = P(i)*phi(i+1) + Q(i) of the forward sweep.
template <typename T>
struct Elimination {
  T P, Q;
};

// Row 1 has no west neighbour: P(1) = aE(1)/aP(1),  Q(1) = bP(1)/aP(1).
template <typename T>
inline Elimination<T> first_elimination(T aP, T aE, T bP) {
  return {aE / aP, bP / aP};
}

// Row i with phi(i-1) = P(i-1)*phi(i) + Q(i-1) eliminated:
//   d = aP(i) - P(i-1)*aW(i),  P(i) = aE(i)/d,  Q(i) = (Q(i-1)*aW(i) + bP(i))/d.
template <typename T>
inline Elimination<T> forward_elimination(const Elimination<T>& before, T aP, T aW, T aE, T bP) {
  const T d = aP - before.P * aW;
  const T P = aE / d;
  const T Q = (before.Q * aW + bP) / d;
  return {P, Q};
}

// phi(i) = P(i)*phi(i+1) + Q(i).
template <typename T>
inline T back_substitution(T P, T Q, T phi_next) {
  return P * phi_next + Q;
}

// --- Boundary values and mass inventory -----------------------------------------

// A value on the inlet or outlet section, the mean of the two nodes beside
// it: (a + b)*0.5.
template <typename T>
inline T section_value(T a, T b) {
  return (a + b) * 0.5;
}

}  // namespace moody
