#include "control/principal.hpp"

#include <cstdint>

#include "control/fault_advice.hpp"
#include "control/fpe.hpp"
#include "control/start.hpp"
#include "flow/coef.hpp"
#include "flow/solver.hpp"
#include "flow/sweeps.hpp"
#include "io/dados.hpp"
#include "io/resultados.hpp"

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
  fpe::set_stage(kMomentumUp);
  momentum_forward_sweep(s);
  fpe::set_stage(kMomentumDown);
  momentum_back_substitution(s);
  fpe::set_stage(kCorrectionUp);
  pressure_correction_forward_sweep(s);
  fpe::set_stage(kCorrectionDown);
  pressure_correction_back_substitution(s);
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

int principal() {
  fpe::install();
  static SimulationState s;  // lives until the process ends

  set_pi(s);

  fpe::set_stage("input");
  read_input(s);

  // The parameters are known: the frame of a fault can now say what to change.
  const FaultAdvice advice = fault_advice(s);
  fpe::set_advice({advice.outside_loop, advice.first_pass, advice.later_passes});

  start_run(s);

  // The count runs in 64 bits: with itmax = 2147483647 a 32-bit it would
  // overflow after the last pass instead of ending the loop.
  const std::int64_t passes = s.itmax;
  for (std::int64_t it = 1; it <= passes; ++it) {
    s.it = static_cast<std::int32_t>(it);
    fpe::set_iteration(s.it);
    outer_iteration(s);
  }
  fpe::set_iteration(0);
  fpe::set_advice({});

  fpe::set_stage("boundary values and mass inventory");
  inventory(s);
  refuse_untrapped_faults(s);
  fpe::set_stage("report");
  write_results(s);
  return 0;
}

}  // namespace moody
