// The grid and the shape of the duct.  Nodes 1 and N are the inlet and outlet
// sections themselves (volumes of zero width); nodes 2..N-1 are the centres of
// the real volumes; face i, the east face of node i, lies at (i-1)*dx.

#include "flow/geometry.hpp"

#include "flow/equations.hpp"

namespace moody {

void geometry(SimulationState& s) {
  const int N = s.N;
  const double dx = s.dx;

  // Node positions: x(1) = 0, x(i) = (i - 1.5)*dx, x(N) = L (L itself).
  s.x(1) = 0.0;
  for (int i = 2; i <= N - 1; ++i) {
    s.x(i) = (static_cast<double>(i) - 1.5) * dx;
  }
  s.x(N) = s.L;

  // Face positions: xe(i) = (i - 1)*dx.
  for (int i = 1; i <= N - 1; ++i) {
    s.xe(i) = (static_cast<double>(i) - 1.0) * dx;
  }

  // Diameters and areas at nodes and at faces.
  for (int i = 1; i <= N - 1; ++i) {
    s.D(i) = diameter(s.x(i), s.cd, s.D0);
    s.De(i) = diameter(s.xe(i), s.cd, s.D0);
  }
  s.D(N) = diameter(s.x(N), s.cd, s.D0);
  for (int i = 1; i <= N - 1; ++i) {
    s.A(i) = area(s.D(i), s.pi);
    s.Ae(i) = area(s.De(i), s.pi);
  }
  s.A(N) = area(s.D(N), s.pi);
}

}  // namespace moody
