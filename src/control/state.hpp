#pragma once
// The one record of a run: the twelve input parameters, the derived scalars
// and the twenty-four arrays that every step reads and writes.
//
// Grid: nodes 1..N, where 2..N-1 are the centres of N-2 real volumes of width
// dx and nodes 1 and N are fictitious volumes of zero width on the inlet
// (x = 0) and outlet (x = L) sections.  Face i is the east face of node i, at
// x = (i-1)*dx; node arrays run 1..N, face arrays 1..N-1.

#include <array>
#include <cstdint>

#include "control/array1.hpp"

namespace moody {

// One discretised equation, a row per node:
//   aP(i)*phi(i) = aW(i)*phi(i-1) + aE(i)*phi(i+1) + bP(i)
struct CoefficientSet {
  Array1 aW, aP, aE, bP;

  // Stores row i (anything with members aW, aP, aE, bP).
  template <typename Row>
  void set(int i, const Row& r) {
    aW(i) = r.aW;
    aP(i) = r.aP;
    aE(i) = r.aE;
    bP(i) = r.bP;
  }
};

// The work pair of the tridiagonal solver: the recurrence
// phi(i) = P(i)*phi(i+1) + Q(i) of its forward sweep, rows 1..N.  Not a
// quantity of the run: the state only gives it a place beside the arrays, so
// that a run obtains all its storage at once and nothing in the numerics
// keeps storage of its own.
struct SolverWork {
  Array1 P, Q;
};

// The twelve input parameters, in the order of dados.txt: the record that
// a run is made of, copied as a whole.
struct Parameters {
  std::int32_t N = 0;       // number of volumes, the two fictitious ones included
  double L = 0.0;           // length of the duct [m]
  double mi = 0.0;          // dynamic viscosity [Pa.s]
  double ro = 0.0;          // density [kg/m3]
  double f = 0.0;           // Darcy friction factor
  double Uin = 0.0;         // inlet velocity [m/s]
  double D0 = 0.0;          // inlet diameter [m]
  double cd = 0.0;          // rate of growth of the diameter with x
  double dt = 0.0;          // time step [s]
  double beta = 0.0;        // interpolation blend (echoed only)
  std::int32_t itmax = 0;   // number of outer iterations
  std::int32_t itmaxm = 0;  // iterations of the mass cycle (echoed only)

  bool operator==(const Parameters&) const = default;
};

// The parameters are the state's base, so that s.N, s.dt... name them
// directly and `Parameters& p = s; p = other;` copies the twelve.
struct SimulationState : Parameters {
  // Derived scalars.
  double dx = 0.0;       // width of a real volume, L/(N-2)
  double pi = 0.0;       // acos(-1)
  std::int32_t it = 0;   // outer iteration counter
  std::int32_t ier = 0;  // status of the latest external program launch

  // Node arrays, 1..N.
  Array1 x, D, A;        // position, diameter, cross-section area
  Array1 u, u0;          // velocity, and its value at the end of the previous pass
  Array1 p, pl;          // pressure and pressure correction
  Array1 Mp;             // mass of each volume
  Array1 dP;             // velocity-correction coefficient of each node
  CoefficientSet QML;    // momentum equation, unknown u
  CoefficientSet MASSA;  // pressure-correction equation, unknown pl

  // Face arrays, 1..N-1.
  Array1 xe, De, Ae;  // position, diameter, area of face i
  Array1 ue, ue0;     // face velocity, and its value at the end of the previous pass
  Array1 Me;          // mass flow through face i
  Array1 de;          // velocity-correction coefficient of face i

  SolverWork work;  // the solver's P and Q, 1..N
};

// One array of a run, with its name and upper bound (N, or N-1 for a face).
struct StateArray {
  const char* name;
  Array1* array;
  int n;
};

// The twenty-four arrays of the state, in the order they are created, then
// the solver's work pair: the one list that sizing, the tests and the tools
// walk.  The bounds are those of s.N.
inline constexpr int kStateArrays = 24;
std::array<StateArray, kStateArrays + 2> state_arrays(SimulationState& s);

}  // namespace moody
