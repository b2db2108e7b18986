#pragma once
// Why a file of the case cannot be opened, read or written, in a user's
// words and with the usual fix, for the F frames.

#include <string>

namespace moody {

enum class FileUse { kRead, kWrite };

// The cause of the failure `error` (an errno value; 0 when the system gave
// none), e.g. "permission denied: is it read-only, or open in another
// program?" for a file that cannot be written.
std::string file_cause(int error, FileUse use);

}  // namespace moody
