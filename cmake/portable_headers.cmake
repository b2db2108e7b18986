# Fails when a source that every platform compiles includes a header that
# only POSIX systems have (Visual Studio has none of them).  Such includes
# belong in the _posix.cpp files, next to their _win.cpp counterparts.
#
#   cmake -DROOT=<source folder> -P cmake/portable_headers.cmake
#
# <signal.h>, <fenv.h>, <errno.h>, <fcntl.h> and the like are C headers that
# Visual Studio has too; the POSIX calls in them are for the compiler to find.
if(NOT ROOT)
  message(FATAL_ERROR "give the source folder: -DROOT=<folder>")
endif()

set(posix_only
    "unistd|spawn|pthread|dlfcn|dirent|poll|termios|pwd|grp|libgen|strings|syslog|sched"
    "|semaphore|fnmatch|glob|wordexp|regex|ftw|utime|utmp|langinfo|iconv|ucontext|err"
    "|getopt|sysexits|execinfo|netdb|ifaddrs|wait|sys/[a-z_/]+|arpa/[a-z_]+|netinet/[a-z_]+")
string(JOIN "" posix_only ${posix_only})
set(include_line "^[ \t]*#[ \t]*include[ \t]*[<\"](${posix_only})\\.h[>\"]")

file(GLOB_RECURSE sources LIST_DIRECTORIES false RELATIVE "${ROOT}"
     "${ROOT}/src/*.cpp" "${ROOT}/src/*.hpp" "${ROOT}/src/*.h"
     "${ROOT}/tests/*.cpp" "${ROOT}/tests/*.hpp"
     "${ROOT}/tools/support/*.cpp" "${ROOT}/tools/support/*.hpp"
     "${ROOT}/tools/*.cpp" "${ROOT}/tools/*.hpp"
     "${ROOT}/bench/*.cpp" "${ROOT}/fuzz/*.cpp")
list(FILTER sources EXCLUDE REGEX "_posix\\.cpp$")

set(found "")
foreach(source IN LISTS sources)
  file(STRINGS "${ROOT}/${source}" lines REGEX "${include_line}")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    list(APPEND found "${source}: ${line}")
  endforeach()
endforeach()

list(LENGTH sources checked)
if(found)
  list(JOIN found "\n  " found)
  message(FATAL_ERROR "POSIX-only headers outside the _posix.cpp files "
                      "(move the calls behind a platform header):\n  ${found}")
endif()
message(STATUS "${checked} sources include no POSIX-only header")
