#include "grid_files.hpp"

#include <algorithm>

#include "control/runtime_error.hpp"
#include "io/input_number.hpp"

namespace moody::convergence {

namespace {

// Writes `bytes` to `name` in `folder`, or ends the run with an F frame.
void replace_or_fail(const std::string& folder, const std::string& name, std::string_view bytes) {
  const std::string problem = replace_file(folder, name, bytes);
  if (!problem.empty()) {
    const std::string path = folder.empty() ? name : folder + "/" + name;
    fatal(ErrorCode::kWriteFailed, path + ": cannot write the file: " + problem);
  }
}

}  // namespace

std::string folder_of(int N) {
  return "malha-" + std::to_string(N);
}

std::string dados_text(const Parameters& p) {
  const struct {
    std::string value;
    const char* comment;
  } lines[] = {
      {std::to_string(p.N), "N   - volumes, including the two fictitious ones"},
      {input_number::round_trip_text(p.L), "L   [m]      length of the duct"},
      {input_number::round_trip_text(p.mi), "mi  [Pa.s]   dynamic viscosity"},
      {input_number::round_trip_text(p.ro), "ro  [kg/m3]  density"},
      {input_number::round_trip_text(p.f), "f   Darcy friction factor"},
      {input_number::round_trip_text(p.Uin), "Uin [m/s]    inlet velocity"},
      {input_number::round_trip_text(p.D0), "D0  [m]      inlet diameter"},
      {input_number::round_trip_text(p.cd),
       "cd           growth of the diameter per metre of length"},
      {input_number::round_trip_text(p.dt), "dt  [s]      time step (grid study)"},
      {input_number::round_trip_text(p.beta), "beta, 1 = CDS  (echoed in the report only)"},
      {std::to_string(p.itmax),
       "itmax        outer iterations: the grid study's run to convergence"},
      {std::to_string(p.itmaxm), "itmaxm       (echoed in the report only)"},
  };
  std::string t;
  for (const auto& line : lines) {
    std::string value = line.value;
    value.resize(std::max<std::size_t>(value.size() + 1, 9), ' ');
    t += value + line.comment + "\r\n";
  }
  return t;
}

void write_grid_files(const std::vector<GridRun>& runs, std::string_view malhas) {
  for (const GridRun& g : runs) {
    if (!g.converged) continue;
    const std::string folder = folder_of(g.N);
    if (const std::string problem = make_folder(folder); !problem.empty()) {
      fatal(ErrorCode::kOpenFailed, folder + ": cannot use the folder: " + problem);
    }
    replace_or_fail(folder, "dados.txt", dados_text(g.folder_parameters));
    replace_or_fail(folder, "saida.txt", g.texts.saida);
    replace_or_fail(folder, "u.dat", g.texts.u);
    replace_or_fail(folder, "p.dat", g.texts.p);
  }
  replace_or_fail("", kTableFile, malhas);
}

}  // namespace moody::convergence
