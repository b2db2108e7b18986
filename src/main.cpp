// Incompressible one-dimensional flow through a duct of linearly growing
// diameter, by the finite-volume method with SIMPLEC pressure correction.
// Reads dados.txt, writes saida.txt, u.dat and p.dat.

#include <new>

#include "control/principal.hpp"
#include "control/runtime_error.hpp"

int main() {
  try {
    return moody::principal();
  } catch (const std::bad_alloc&) {
    // Any storage the steps ask for on the way (a command line, a record
    // buffer) that the machine cannot give ends the run in the usual frame.
    moody::fatal(moody::ErrorCode::kNoStorage, "storage for the run cannot be obtained");
  }
}
