// The steps of one outer iteration of the SIMPLEC scheme, each as a plain
// loop over the grid, and the final boundary values and mass inventory.
//
// Every product and sum is evaluated left to right exactly as the equation in
// the comment above it is written; the results depend on that order bit for
// bit.  The rows follow the solver's convention
//   aP(i)*phi(i) = aW(i)*phi(i-1) + aE(i)*phi(i+1) + bP(i).

#include "flow/coef.hpp"

namespace moody {

void momentum_coefficients(SimulationState& s) {
  const int N = s.N;
  const double mi = s.mi, ro = s.ro, f = s.f, dt = s.dt, dx = s.dx, pi = s.pi;
  CoefficientSet& q = s.QML;

  // Mass of every volume (the fictitious ones get a full width too) and mass
  // flow through every face, from the face velocities as they stand.
  //   Mp(i) = A(i)*dx*ro,  Me(i) = ue(i)*Ae(i)*ro
  for (int i = 1; i <= N - 1; ++i) {
    s.Mp(i) = s.A(i) * dx * ro;
    s.Me(i) = s.ue(i) * s.Ae(i) * ro;
  }
  s.Mp(N) = s.A(N) * dx * ro;

  // Inlet: u(1) = 2*Uin - u(2), the mean of nodes 1 and 2 is Uin.
  q.aW(1) = 0.0;
  q.aE(1) = -1.0;
  q.aP(1) = 1.0;
  q.bP(1) = 2.0 * s.Uin;

  // Real volumes: upwind convection from the west, viscous diffusion, Darcy
  // friction linearised with u(i), transient term against u0, and the
  // pressure difference of the neighbouring nodes on the node's area.
  for (int i = 2; i <= N - 1; ++i) {
    // aW = Ae(i-1)*mi/dx + Me(i-1),  aE = Ae(i)*mi/dx
    q.aW(i) = s.Ae(i - 1) * mi / dx + s.Me(i - 1);
    q.aE(i) = s.Ae(i) * mi / dx;
    // Ff = u(i)*D(i)*f*pi*dx*ro*0.125,  Ct = Mp(i)/dt
    const double Ff = s.u(i) * s.D(i) * f * pi * dx * ro * 0.125;
    const double Ct = s.Mp(i) / dt;
    // aP = aW + aE + Ff + Ct
    q.aP(i) = q.aW(i) + q.aE(i) + Ff + Ct;
    // St = Mp(i)*u0(i)/dt,  Sp = -(p(i+1) - p(i-1))*A(i)*0.5,  bP = Sp + St
    const double St = s.Mp(i) * s.u0(i) / dt;
    const double Sp = -(s.p(i + 1) - s.p(i - 1)) * s.A(i) * 0.5;
    q.bP(i) = Sp + St;
  }

  // Outlet: u(N) = u(N-1) + (u(N-1) - u(N-2)), the slope lagged one pass.
  q.aW(N) = 1.0;
  q.aE(N) = 0.0;
  q.aP(N) = 1.0;
  q.bP(N) = s.u(N - 1) - s.u(N - 2);
}

void face_velocities(SimulationState& s) {
  const int N = s.N;
  const double dt = s.dt;
  const CoefficientSet& q = s.QML;

  // Interior faces by momentum interpolation: the face's own momentum
  // equation with the mean coefficients of the nodes on either side, times 2.
  //   ue(i) = [ (Mp(i+1) + Mp(i))*ue0(i)/dt + S(i) + S(i+1)
  //             - (p(i+1) - p(i))*Ae(i)*2 ] / (aP(i+1) + aP(i))
  for (int i = 2; i <= N - 2; ++i) {
    // Neighbour sums: S(i) = u(i-1)*aW(i) + u(i+1)*aE(i),
    //                 S(i+1) = u(i+2)*aE(i+1) + aW(i+1)*u(i)
    const double Si = s.u(i - 1) * q.aW(i) + s.u(i + 1) * q.aE(i);
    const double Si1 = s.u(i + 2) * q.aE(i + 1) + q.aW(i + 1) * s.u(i);
    const double R = (s.Mp(i + 1) + s.Mp(i)) * s.ue0(i) / dt;
    const double numerator = R + Si + Si1 - (s.p(i + 1) - s.p(i)) * s.Ae(i) * 2.0;
    s.ue(i) = numerator / (q.aP(i + 1) + q.aP(i));
  }

  // Inlet face: the prescribed velocity.
  s.ue(1) = s.Uin;

  // Outlet face: the mean of its two nodes, scaled so that the face carries
  // the inlet's volume flow, r = Ae(1)*Uin / (Ae(N-1)*ue(N-1)).
  s.ue(N - 1) = (s.u(N - 1) + s.u(N)) * 0.5;
  const double r = s.Ae(1) * s.Uin / (s.Ae(N - 1) * s.ue(N - 1));
  s.ue(N - 1) = r * s.ue(N - 1);
}

void correction_coefficients(SimulationState& s) {
  const int N = s.N;
  const CoefficientSet& q = s.QML;

  // SIMPLEC: dP(i) = A(i) / ((aP(i) - aW(i)) - aE(i)).
  for (int i = 2; i <= N - 1; ++i) {
    s.dP(i) = s.A(i) / (q.aP(i) - q.aW(i) - q.aE(i));
  }

  // Faces: the mean of the two nodes, de(i) = (dP(i+1) + dP(i))*0.5; the
  // boundary faces copy the real node beside them.
  for (int i = 2; i <= N - 2; ++i) {
    s.de(i) = (s.dP(i + 1) + s.dP(i)) * 0.5;
  }
  s.de(1) = s.dP(2);
  s.de(N - 1) = s.dP(N - 1);
}

void pressure_correction_coefficients(SimulationState& s) {
  const int N = s.N;
  CoefficientSet& m = s.MASSA;

  // The fictitious nodes keep pl = 0.
  m.aW(1) = 0.0;
  m.aE(1) = 0.0;
  m.aP(1) = 1.0;
  m.bP(1) = 0.0;

  // Volume balance of a real volume once the face velocities are corrected
  // by de*(pl(i) - pl(i+1)):
  //   aW = Ae(i-1)*de(i-1),  aE = de(i)*Ae(i),  aP = aE + aW,
  //   bP = Ae(i-1)*ue(i-1) - ue(i)*Ae(i)   (net volume inflow)
  for (int i = 2; i <= N - 1; ++i) {
    m.aW(i) = s.Ae(i - 1) * s.de(i - 1);
    m.aE(i) = s.de(i) * s.Ae(i);
    m.aP(i) = m.aE(i) + m.aW(i);
    m.bP(i) = s.Ae(i - 1) * s.ue(i - 1) - s.ue(i) * s.Ae(i);
  }

  m.aW(N) = 0.0;
  m.aE(N) = 0.0;
  m.aP(N) = 1.0;
  m.bP(N) = 0.0;
}

void correct(SimulationState& s) {
  const int N = s.N;

  // The fictitious nodes' corrections, extrapolated linearly (the outlet one
  // sees the inlet one when N = 3):
  //   pl(1) = pl(2)*2 - pl(3),  pl(N) = pl(N-1)*2 - pl(N-2)
  s.pl(1) = s.pl(2) * 2.0 - s.pl(3);
  s.pl(N) = s.pl(N - 1) * 2.0 - s.pl(N - 2);

  // Full correction, no under-relaxation: p(i) = pl(i) + p(i).
  for (int i = 1; i <= N; ++i) {
    s.p(i) = s.pl(i) + s.p(i);
  }

  // Nodes: u(i) = u(i) - (pl(i+1) - pl(i-1))*dP(i)*0.5.
  for (int i = 2; i <= N - 1; ++i) {
    s.u(i) = s.u(i) - (s.pl(i + 1) - s.pl(i - 1)) * s.dP(i) * 0.5;
  }

  // Boundary nodes again: u(1) = Uin*2 - u(2),
  // u(N) = (u(N-1) - u(N-2)) + u(N-1).
  s.u(1) = s.Uin * 2.0 - s.u(2);
  s.u(N) = (s.u(N - 1) - s.u(N - 2)) + s.u(N - 1);

  // Interior faces: ue(i) = ue(i) - (pl(i+1) - pl(i))*de(i).  The inlet and
  // outlet faces keep the values that carry the inlet's volume flow.
  for (int i = 2; i <= N - 2; ++i) {
    s.ue(i) = s.ue(i) - (s.pl(i + 1) - s.pl(i)) * s.de(i);
  }
}

void inventory(SimulationState& s) {
  const int N = s.N;
  const double dx = s.dx, ro = s.ro;

  // Velocity and pressure on the inlet and outlet sections themselves.
  s.u(1) = s.Uin;
  s.u(N) = (s.u(N - 1) + s.u(N)) * 0.5;
  s.p(1) = (s.p(1) + s.p(2)) * 0.5;
  s.p(N) = (s.p(N - 1) + s.p(N)) * 0.5;

  // Pressures referred to the inlet.
  const double p0 = s.p(1);
  for (int i = 1; i <= N; ++i) {
    s.p(i) = s.p(i) - p0;
  }

  // Masses and mass flows from the final face velocities:
  //   Mp(i) = A(i)*dx*ro,  Me(i) = Ae(i)*ue(i)*ro
  for (int i = 1; i <= N - 1; ++i) {
    s.Mp(i) = s.A(i) * dx * ro;
    s.Me(i) = s.Ae(i) * s.ue(i) * ro;
  }
  s.Mp(N) = s.A(N) * dx * ro;
}

}  // namespace moody
