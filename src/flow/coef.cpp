// The steps of one outer iteration of the SIMPLEC scheme, each as a plain
// loop over the grid, and the final boundary values and mass inventory.  The
// equations themselves, and the order in which each is evaluated, are those
// of equations.hpp; the operands of the momentum row and of a face velocity
// are gathered as the pass in four sweeps gathers them (pass.hpp).

#include "flow/coef.hpp"

#include "flow/equations.hpp"
#include "flow/pass.hpp"
#include "flow/state_store.hpp"

namespace moody {

void momentum_coefficients(SimulationState& s) {
  const int N = s.N;
  const double mi = s.mi, ro = s.ro, f = s.f, dt = s.dt, dx = s.dx, pi = s.pi;
  CoefficientSet& q = s.QML;

  // Mass of every volume and mass flow through every face, from the face
  // velocities as they stand.
  for (int i = 1; i <= N - 1; ++i) {
    s.Mp(i) = volume_mass(s.A(i), dx, ro);
    s.Me(i) = face_mass_flow(s.ue(i), s.Ae(i), ro);
  }
  s.Mp(N) = volume_mass(s.A(N), dx, ro);

  const StateStore st(s);
  q.set(1, momentum_inlet_row(s.Uin));
  for (int i = 2; i <= N - 1; ++i) {
    const double G_w = viscous_conductance(s.Ae(i - 1), mi, dx);
    const double G_e = viscous_conductance(s.Ae(i), mi, dx);
    const MomentumNode<double> n =
        momentum_node(st, i, G_w, G_e, s.Me(i - 1), s.Mp(i), s.p(i - 1), s.p(i + 1));
    q.set(i, momentum_row(n, f, pi, dx, ro, dt));
  }
  q.set(N, momentum_outlet_row(s.u(N - 1), s.u(N - 2)));
}

void face_velocities(SimulationState& s) {
  const int N = s.N;

  const StateStore st(s);
  for (int i = 2; i <= N - 2; ++i) {
    s.ue(i) =
        face_velocity(interpolated_face(st, i, s.u(i - 1), s.u(i), s.u(i + 1), s.u(i + 2)), s.dt);
  }

  // Inlet face: the prescribed velocity.  Outlet face: the inlet's volume flow.
  s.ue(1) = inlet_face_velocity(s.Uin);
  s.ue(N - 1) = outlet_face_velocity(s.u(N - 1), s.u(N), s.Ae(1), s.Uin, s.Ae(N - 1));
}

void correction_coefficients(SimulationState& s) {
  const int N = s.N;
  const StateStore st(s);

  for (int i = 2; i <= N - 1; ++i) {
    s.dP(i) = dP_at(st, i);
  }
  // The boundary faces copy the real node beside them.
  for (int i = 2; i <= N - 2; ++i) {
    s.de(i) = face_correction_coefficient(s.dP(i + 1), s.dP(i));
  }
  s.de(1) = inlet_face_correction_coefficient(s.dP(2));
  s.de(N - 1) = outlet_face_correction_coefficient(s.dP(N - 1));
}

void pressure_correction_coefficients(SimulationState& s) {
  const int N = s.N;
  CoefficientSet& m = s.MASSA;

  const StateStore st(s);
  for (int i = 1; i <= N; ++i) {
    m.set(i, massa_row_at(st, i));
  }
}

void correct(SimulationState& s) {
  const int N = s.N;

  // The fictitious nodes' corrections; the outlet one sees the inlet one
  // when N = 3.
  s.pl(1) = extrapolated_correction(s.pl(2), s.pl(3));
  s.pl(N) = extrapolated_correction(s.pl(N - 1), s.pl(N - 2));

  for (int i = 1; i <= N; ++i) {
    s.p(i) = corrected_pressure(s.pl(i), s.p(i));
  }
  for (int i = 2; i <= N - 1; ++i) {
    s.u(i) = corrected_node_velocity(s.u(i), s.pl(i + 1), s.pl(i - 1), s.dP(i));
  }
  s.u(1) = inlet_node_velocity(s.Uin, s.u(2));
  s.u(N) = outlet_node_velocity(s.u(N - 1), s.u(N - 2));

  // The inlet and outlet faces keep the values that carry the inlet's flow.
  for (int i = 2; i <= N - 2; ++i) {
    s.ue(i) = corrected_face_velocity(s.ue(i), s.pl(i + 1), s.pl(i), s.de(i));
  }
}

void inventory(SimulationState& s) {
  const int N = s.N;
  const double dx = s.dx, ro = s.ro;

  // Velocity and pressure on the inlet and outlet sections themselves.
  s.u(1) = s.Uin;
  s.u(N) = section_value(s.u(N - 1), s.u(N));
  s.p(1) = section_value(s.p(1), s.p(2));
  s.p(N) = section_value(s.p(N - 1), s.p(N));

  // Pressures referred to the inlet.
  const double p0 = s.p(1);
  for (int i = 1; i <= N; ++i) {
    s.p(i) = s.p(i) - p0;
  }

  // Masses and mass flows from the final face velocities.  Me = ue*Ae*ro is
  // Ae*ue*ro bit for bit: a product of two factors does not depend on their
  // order.
  for (int i = 1; i <= N - 1; ++i) {
    s.Mp(i) = volume_mass(s.A(i), dx, ro);
    s.Me(i) = face_mass_flow(s.ue(i), s.Ae(i), ro);
  }
  s.Mp(N) = volume_mass(s.A(N), dx, ro);
}

}  // namespace moody
