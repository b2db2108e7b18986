// The program's pass on its state: the four sweeps of pass.hpp on the
// state in place (state_store.hpp), or the plain steps on the smallest grids.

#include "flow/sweeps.hpp"

#include "control/fpe.hpp"
#include "flow/coef.hpp"
#include "flow/pass.hpp"
#include "flow/solver.hpp"
#include "flow/state_store.hpp"

namespace moody {

namespace {
// The four stages of a pass, as a fault's diagnostic names them.  Both forms
// of the pass run their steps in these four groups, so that a fault is named
// alike on every grid.
constexpr const char* kMomentumUp = "momentum coefficients and forward sweep";
constexpr const char* kMomentumDown =
    "momentum back substitution, face velocities and velocity-correction coefficients";
constexpr const char* kCorrectionUp = "pressure-correction coefficients and forward sweep";
constexpr const char* kCorrectionDown = "pressure-correction back substitution and correction step";
}  // namespace

void outer_iteration(SimulationState& s) {
  if (s.N < kSweepMinimumN) {
    plain_outer_iteration(s);
    return;
  }
  const StateStore st(s);
  NoSums<double> sums;
  fpe::set_stage(kMomentumUp);
  momentum_forward_sweep(st);
  fpe::set_stage(kMomentumDown);
  momentum_back_substitution(st);
  fpe::set_stage(kCorrectionUp);
  pressure_correction_forward_sweep(st, sums);
  fpe::set_stage(kCorrectionDown);
  pressure_correction_back_substitution(st, sums);
}

void plain_outer_iteration(SimulationState& s) {
  // The solve of one set into phi, its two halves in the stages of the sweeps.
  const auto solve = [&s](const CoefficientSet& c, Array1& phi, const char* back_stage) {
    tdma_forward(s.N, c.aP, c.aW, c.aE, c.bP, s.work);
    fpe::set_stage(back_stage);
    tdma_back(s.N, s.work, phi);
  };
  fpe::set_stage(kMomentumUp);
  momentum_coefficients(s);
  solve(s.QML, s.u, kMomentumDown);
  face_velocities(s);
  correction_coefficients(s);
  fpe::set_stage(kCorrectionUp);
  pressure_correction_coefficients(s);
  solve(s.MASSA, s.pl, kCorrectionDown);
  correct(s);
  s.u0.copy_from(s.u);
  s.ue0.copy_from(s.ue);
}

}  // namespace moody
