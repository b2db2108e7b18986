#include "test_support.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace moody::testing {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::random_device seed;
  std::mt19937_64 gen(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = fs::temp_directory_path() / ("moody-test-" + std::to_string(gen()));
    if (fs::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a scratch folder");
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  // A test may have taken the write bit away; give it back before removing.
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

void write_file(const fs::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::string read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_script(const fs::path& file, std::string_view body) {
  write_file(file, "#!/bin/sh\n" + std::string(body));
  fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

PathPrefix::PathPrefix(const fs::path& dir) {
  const char* old = std::getenv("PATH");
  saved_ = old != nullptr ? old : "/usr/bin:/bin";
  const std::string value = dir.string() + ":" + saved_;
  setenv("PATH", value.c_str(), 1);
}

PathPrefix::~PathPrefix() { setenv("PATH", saved_.c_str(), 1); }

RunResult run_program(const fs::path& dir, const fs::path& tools) {
  const char* old = std::getenv("PATH");
  const std::string path = tools.string() + ":" + (old != nullptr ? old : "/usr/bin:/bin");
  return run_command(dir, {MOODY_BINARY}, {{"PATH", path}});
}

bool on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string rest = path != nullptr ? path : "";
  std::size_t start = 0;
  while (start <= rest.size()) {
    const std::size_t end = std::min(rest.find(':', start), rest.size());
    const fs::path candidate = fs::path(rest.substr(start, end - start)) / program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

RunResult run_command(const fs::path& dir, const std::vector<std::string>& argv,
                      const std::vector<std::pair<std::string, std::string>>& env) {
  // Standard error goes to a file of its own outside `dir`, which may be
  // read-only.
  std::string err_name = (fs::temp_directory_path() / "moody-stderr-XXXXXX").string();
  const int err_fd = mkstemp(err_name.data());
  if (err_fd < 0) throw std::runtime_error("cannot create a file for standard error");
  close(err_fd);
  const fs::path err = err_name;
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    for (const auto& [name, value] : env) {
      if (value.empty()) {
        unsetenv(name.c_str());
      } else {
        setenv(name.c_str(), value.c_str(), 1);
      }
    }
    if (std::freopen("/dev/null", "r", stdin) == nullptr) _exit(126);
    if (std::freopen(err.c_str(), "w", stderr) == nullptr) _exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  RunResult result;
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  result.stderr_ = read_file(err);
  fs::remove(err);
  return result;
}

}  // namespace moody::testing
