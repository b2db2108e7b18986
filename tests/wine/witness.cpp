// A stand-in that the tests under Wine plant where no command interpreter
// may be taken from.  Started, it leaves its command line in witness.log in
// the current folder, and nothing else.

#include <windows.h>

#include <cstdio>

int main() {
  if (std::FILE* log = std::fopen("witness.log", "ab")) {
    std::fprintf(log, "%s\n", GetCommandLineA());
    std::fclose(log);
  }
  return 0;
}
