#pragma once
// Whether standard error is a terminal (a console on Windows): the progress
// display goes there only then.

namespace moody::convergence {

bool stderr_is_terminal();

}  // namespace moody::convergence
