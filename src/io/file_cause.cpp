#include "io/file_cause.hpp"

#include <cerrno>
#include <cstring>

namespace moody {

std::string file_cause(int error, FileUse use) {
  const bool writing = use == FileUse::kWrite;
  switch (error) {
    case 0:
      return "the system gave no reason";
    case EACCES:
    case EPERM:
      // On Windows a file that another program holds open is refused so too.
      return writing ? "permission denied: is the file or its folder read-only, or the file open "
                       "in another program?"
                     : "permission denied: is it open in another program, or not readable to you?";
    case EISDIR:
      return "a folder has that name: rename or remove the folder";
    case ENOSPC:
      return "the disk is full: free some space and run the case again";
#ifdef EDQUOT
    case EDQUOT:
      return "your disk quota is used up: free some space and run the case again";
#endif
    case EROFS:
      return "the disk is read-only: run the case in a folder you can write to";
    case ENOENT:
    case ENOTDIR:
      return "its folder does not exist (moved or deleted?)";
    case EBUSY:
    case ETXTBSY:
      return "it is in use by another program: close that program and run the case again";
    case EIO:
      return "the disk reports an input/output error: check it, or run the case in another "
             "folder";
    case EFBIG:
      return "the file is larger than the disk allows";
    case ENAMETOOLONG:
      return "the path of the folder is too long: run the case in a folder with a shorter path";
    case EMFILE:
    case ENFILE:
      return "too many files are open: close some programs and run the case again";
    default:
      return std::string("the system says \"") + std::strerror(error) + "\"";
  }
}

std::string kind_cause(FileKind kind) {
  if (kind == FileKind::kFolder) return file_cause(EISDIR, FileUse::kRead);
  const char* what = kind == FileKind::kPipe     ? "a named pipe (FIFO)"
                     : kind == FileKind::kDevice ? "a device"
                                                 : "something else (a socket?)";
  return std::string(what) + " has that name, not a file: remove or rename it";
}

}  // namespace moody
