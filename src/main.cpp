// Incompressible one-dimensional flow through a duct of linearly growing
// diameter, by the finite-volume method with SIMPLEC pressure correction.
// Reads dados.txt, writes saida.txt, u.dat and p.dat.

#include <new>

#include "control/console.hpp"
#include "control/principal.hpp"
#include "control/runtime_error.hpp"

int main(int argc, char** /*argv*/) {
  // The program reads no command line.  An argument is a mistake (a file
  // name, --help): refused before anything is read or written, so that it
  // cannot replace the results of the case in the current folder.
  if (argc > 1) {
    moody::notice("usage: moody  (no arguments: run it in the folder that holds dados.txt)");
    moody::console::hold_if_alone();
    return 2;
  }
  try {
    const int status = moody::principal();
    // A launch that failed was said: keep it on a window of its own.
    if (moody::notice_given()) moody::console::hold_if_alone();
    return status;
  } catch (const std::bad_alloc&) {
    // Any storage the steps ask for on the way (a command line, a record
    // buffer) that the machine cannot give ends the run in the usual frame.
    moody::fatal(moody::ErrorCode::kNoStorage, "storage for the run cannot be obtained");
  }
}
