// A POSIX terminal outlives the program: nothing to hold.

#include "control/console.hpp"

namespace moody::console {

void hold_if_alone() noexcept {}

}  // namespace moody::console
