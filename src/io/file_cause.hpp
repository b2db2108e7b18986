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

// What stands under a file's name when it is not a file.
enum class FileKind { kFolder, kPipe, kDevice, kOther };

// The cause of a case file that cannot be read because it is of `kind`,
// e.g. "a named pipe (FIFO) has that name: ...".
std::string kind_cause(FileKind kind);

}  // namespace moody
