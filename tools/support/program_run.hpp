#pragma once
// Runs of the built program on a duct case, made as a user makes them:
// dados.txt in a folder, an editor and a plotter that do nothing first on
// PATH, and the plot files and the report read back.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "control/state.hpp"
#include "duct_solution.hpp"
#include "harness.hpp"

namespace moody::verification {

// The numerical parameters of a run.
struct Grid {
  int N = 12;       // nodes, the two on the duct's ends included
  double dt = 0.1;  // time step [s]
  int itmax = 240;  // outer iterations
};

inline double grid_width(const Duct& c, int N) {
  return c.L / (N - 2);
}

// What a run left behind.
struct Outcome {
  int status = -1;              // exit status of the program
  std::string message;          // what it wrote on standard error
  std::vector<double> x, u, p;  // u.dat and p.dat: node, velocity, pressure
  std::vector<double> xe, ue;   // last table of saida.txt: face, velocity

  // Status 0 and every value read back as a finite number.
  bool complete() const;
  double outlet_pressure() const { return p.back(); }
};

// A scratch folder with the two do-nothing programs, in which runs are made
// one after the other; each run starts without output files.
class Workbench {
 public:
  Workbench();
  Outcome run(const Duct& c, const Grid& g);

 private:
  testing::ScratchDir dir_;
};

// A real as the report's Ew.d editing writes it: "3.826399412624961E+02",
// and "6.045644442592258+124" when the exponent needs three digits.  NaN for
// anything else.
double parse_real(std::string_view text);

// Largest |u(i) - u(x(i))| over the nodes of u.dat.
double max_velocity_error(const Duct& c, const Outcome& r);

// Spread of the volume flow Ae*ue over the faces of saida.txt's last table,
// (max - min)/|mean|, with Ae = pi*(D0 + cd*xe)^2/4 from the face positions.
double continuity_spread(const Duct& c, const Outcome& r);

// Order of accuracy observed between two grids: log(e1/e2)/log(dx1/dx2).
double observed_order(double e1, double dx1, double e2, double dx2);

// The state of a run of this case, sized, as the program has it after
// reading dados.txt: for runs inside the process (the convergence tool's
// library).  Ends the process with the program's F frame if N cannot be sized.
void set_case(SimulationState& s, const Duct& c, const Grid& g);

}  // namespace moody::verification
