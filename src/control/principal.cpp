#include "control/principal.hpp"

#include <cstdint>

#include "control/fault_advice.hpp"
#include "control/fpe.hpp"
#include "control/start.hpp"
#include "flow/coef.hpp"
#include "flow/sweeps.hpp"
#include "io/dados.hpp"
#include "io/resultados.hpp"

namespace moody {

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
