#pragma once
// Whole runs whose three output files are pinned bit for bit, by size and
// 64-bit FNV-1a hash: the example, a narrowing duct, an oil, and a grid of
// 202 volumes.  The native build (golden_test.cpp) and the Windows build
// under Wine (windows_test.cpp) must both write exactly these bytes.
//
// The example stops short of convergence (itmax = 300), the others converge
// within their itmax.  The figures are the program's, each case run in an
// empty folder that holds only dados.txt.  A change of any output bit, in
// the numerics or in the formatter, changes them: one that is meant says why
// in the commit that updates them.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iomanip>
#include <sstream>
#include <string>
#include <string_view>

#include "test_support.hpp"

namespace moody::testing {

// 64-bit FNV-1a: offset basis 0xcbf29ce484222325, prime 0x100000001b3.
constexpr std::uint64_t fnv1a(std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3u;
  }
  return hash;
}
static_assert(fnv1a("") == 0xcbf29ce484222325u);
static_assert(fnv1a("a") == 0xaf63dc4c8601ec8cu);

struct GoldenFile {
  const char* name;
  std::size_t size;
  std::uint64_t hash;
};

struct GoldenCase {
  const char* name;
  const char* dados;  // nullptr: examples/dados.txt
  GoldenFile files[3];
};

inline constexpr GoldenCase kGoldenCases[] = {
    {"the example",
     nullptr,
     {{"saida.txt", 33139, 0xcd36625a780007a9u},
      {"u.dat", 2444, 0xb14f7f7f1d74a2d5u},
      {"p.dat", 2444, 0x96f9ff2daa350f14u}}},
    // The example's duct narrowing from 50 mm to 30 mm (cd < 0).
    {"a narrowing duct",
     "52\n2.0\n1.0E-3\n1000.\n0.02\n1.0\n0.05\n-0.01\n1.0D-2\n1\n450\n20\n",
     {{"saida.txt", 33139, 0xfd0ac7203d8801d1u},
      {"u.dat", 2444, 0x7dc62a49c340f8a8u},
      {"p.dat", 2444, 0xdb3e8271f336e760u}}},
    // An oil, mi = 0.3 Pa.s: laminar (Re about 150, f = 64/Re).
    {"an oil",
     "52\n2.0\n0.3\n880.\n0.44\n1.0\n0.05\n0.01\n1.0D-2\n1\n350\n20\n",
     {{"saida.txt", 33139, 0x6d31229275273305u},
      {"u.dat", 2444, 0x5a2ae9091bfa3c3cu},
      {"p.dat", 2444, 0x31fc9430c087a77au}}},
    // The example's duct on 202 volumes, converged (2941 passes needed).
    {"202 volumes",
     "202\n2.0\n1.0E-3\n1000.\n0.02\n1.0\n0.05\n0.01\n3.22\n1\n3000\n20\n",
     {{"saida.txt", 123589, 0x74c7b74536215f52u},
      {"u.dat", 9494, 0xa27bcf0f169cfd83u},
      {"p.dat", 9494, 0x5d89ac9017524c96u}}},
};

inline std::string golden_input(const GoldenCase& c) {
  if (c.dados != nullptr) return c.dados;
  return read_file(std::filesystem::path(MOODY_SOURCE_DIR) / "examples" / "dados.txt");
}

inline std::string golden_figures(std::size_t size, std::uint64_t hash) {
  std::ostringstream text;
  text << size << " bytes, FNV-1a 0x" << std::hex << std::setw(16) << std::setfill('0') << hash;
  return text.str();
}

// Checks the three files that a run of `c` left in `dir`.
inline void expect_golden_files(const GoldenCase& c, const std::filesystem::path& dir) {
  for (const GoldenFile& file : c.files) {
    const std::filesystem::path path = dir / file.name;
    if (!std::filesystem::exists(path)) {
      ADD_FAILURE() << c.name << ": " << file.name << " was not written";
      continue;
    }
    const std::string bytes = read_file(path);
    EXPECT_EQ(golden_figures(bytes.size(), fnv1a(bytes)), golden_figures(file.size, file.hash))
        << c.name << ": " << file.name << " differs from the pinned one";
  }
}

}  // namespace moody::testing
