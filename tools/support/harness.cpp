#include "harness.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

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

std::string path_with_first(const fs::path& dir) {
  const char* old = std::getenv("PATH");
  const std::string rest = old != nullptr ? old : kDefaultPath;
  return dir.string() + kPathListSeparator + rest;
}

PathPrefix::PathPrefix(const fs::path& dir) {
  const char* old = std::getenv("PATH");
  saved_ = old != nullptr ? old : kDefaultPath;
  set_env("PATH", path_with_first(dir));
}

PathPrefix::~PathPrefix() {
  set_env("PATH", saved_);
}

RunResult run_program(const fs::path& dir, const fs::path& tools) {
  return run_command(dir, {MOODY_BINARY}, {{"PATH", path_with_first(tools)}});
}

bool on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string rest = path != nullptr ? path : "";
  constexpr fs::perms kExec =
      fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  std::size_t start = 0;
  while (start <= rest.size()) {
    const std::size_t end = std::min(rest.find(kPathListSeparator, start), rest.size());
    const fs::path candidate = fs::path(rest.substr(start, end - start)) / program;
    std::error_code error;
    const fs::file_status status = fs::status(candidate, error);
    if (!error && fs::is_regular_file(status) && (status.permissions() & kExec) != fs::perms::none)
      return true;
    start = end + 1;
  }
  return false;
}

}  // namespace moody::testing
