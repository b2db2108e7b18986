#include "control/memory.hpp"

#include "control/runtime_error.hpp"

namespace moody {

std::string megabytes(std::uint64_t bytes) {
  return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

void require_memory(std::uint64_t needed, std::string_view what) {
  const std::uint64_t available = available_memory();
  if (available != 0 && needed > available) {
    fatal(ErrorCode::kNoStorage, "storage for " + std::string(what) + ": " + megabytes(needed) +
                                     " needed, " + megabytes(available) + " available");
  }
}

}  // namespace moody
