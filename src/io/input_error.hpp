#pragma once
// The input file, and the errors met in reading it.

#include <string>

#include "control/runtime_error.hpp"

namespace moody {

inline constexpr const char* kInputFile = "dados.txt";

struct InputError {
  ErrorCode code;
  std::string description;  // the text of the frame after "F2001: "
};

}  // namespace moody
