#include "program_run.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "control/start.hpp"

namespace moody::verification {

namespace fs = std::filesystem;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool all_finite(const std::vector<double>& v) {
  return std::all_of(v.begin(), v.end(), [](double e) { return std::isfinite(e); });
}

// The numbers of every line of a file of two columns (u.dat, p.dat).
void read_columns(const fs::path& file, std::vector<double>& first, std::vector<double>& second) {
  std::istringstream lines(testing::read_file(file));
  std::string a, b;
  while (lines >> a >> b) {
    first.push_back(parse_real(a));
    second.push_back(parse_real(b));
  }
}

// The face table is the last of the report: its last N-1 records are
// "i  xe(i)  ue(i)" for i = 1..N-1.
void read_faces(const fs::path& file, int N, std::vector<double>& xe, std::vector<double>& ue) {
  std::istringstream text(testing::read_file(file));
  std::vector<std::string> records;
  for (std::string line; std::getline(text, line);)
    records.push_back(line);
  while (!records.empty() && records.back().find_first_not_of(" \r") == std::string::npos)
    records.pop_back();
  if (static_cast<int>(records.size()) < N - 1) return;
  for (std::size_t k = records.size() - static_cast<std::size_t>(N - 1); k < records.size(); ++k) {
    std::istringstream fields(records[k]);
    std::string i, x, v;
    fields >> i >> x >> v;
    xe.push_back(parse_real(x));
    ue.push_back(parse_real(v));
  }
}

}  // namespace

double parse_real(std::string_view text) {
  // Ew.d drops the letter E when the exponent has three digits; put it back.
  char buf[64];
  if (text.empty() || text.size() + 2 > sizeof buf) return kNaN;
  std::size_t exponent = std::string_view::npos;
  if (text.find_first_of("Ee") == std::string_view::npos) {
    const std::size_t sign = text.find_last_of("+-");
    if (sign != std::string_view::npos && sign > 0) exponent = sign;
  }
  std::size_t n = 0;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (k == exponent) buf[n++] = 'E';
    buf[n++] = text[k];
  }
  buf[n] = '\0';
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(buf, &end);
  if (end != buf + n || (errno == ERANGE && std::isinf(v))) return kNaN;
  return v;
}

bool Outcome::complete() const {
  const std::size_t n = x.size();
  return status == 0 && n >= 3 && u.size() == n && p.size() == n && xe.size() == n - 1 &&
         ue.size() == n - 1 && all_finite(x) && all_finite(u) && all_finite(p) && all_finite(xe) &&
         all_finite(ue);
}

Workbench::Workbench() {
  fs::create_directory(dir_ / "tools");
  testing::write_script(dir_ / "tools" / "notepad", "exit 0\n");
  testing::write_script(dir_ / "tools" / "wgnuplot", "exit 0\n");
  fs::create_directory(dir_ / "work");
}

Outcome Workbench::run(const Duct& c, const Grid& g) {
  const fs::path work = dir_ / "work";
  for (const char* name : {"saida.txt", "u.dat", "p.dat"})
    fs::remove(work / name);

  char dados[512];
  std::snprintf(dados, sizeof dados,
                "%d\n%.17g\n%.17g\n%.17g\n%.17g\n%.17g\n%.17g\n%.17g\n%.17g\n1\n%d\n20\n", g.N, c.L,
                c.mi, c.ro, c.f, c.Uin, c.D0, c.cd, g.dt, g.itmax);
  testing::write_file(work / "dados.txt", dados);

  const testing::RunResult result = testing::run_program(work, dir_ / "tools");
  Outcome r;
  r.status = result.status;
  r.message = result.stderr_;
  if (r.status != 0) return r;
  std::vector<double> x_p;
  read_columns(work / "u.dat", r.x, r.u);
  read_columns(work / "p.dat", x_p, r.p);
  read_faces(work / "saida.txt", g.N, r.xe, r.ue);
  return r;
}

double max_velocity_error(const Duct& c, const Outcome& r) {
  double worst = 0.0;
  for (std::size_t i = 0; i < r.x.size(); ++i)
    worst = std::max(worst, std::fabs(r.u[i] - velocity(c, r.x[i])));
  return worst;
}

double continuity_spread(const Duct& c, const Outcome& r) {
  const double pi = std::acos(-1.0);
  double lo = std::numeric_limits<double>::infinity();
  double hi = -lo;
  double sum = 0.0;
  for (std::size_t i = 0; i < r.xe.size(); ++i) {
    const double D = diameter(c, r.xe[i]);
    const double flow = pi * D * D / 4.0 * r.ue[i];
    lo = std::min(lo, flow);
    hi = std::max(hi, flow);
    sum += flow;
  }
  return (hi - lo) / std::fabs(sum / static_cast<double>(r.xe.size()));
}

double observed_order(double e1, double dx1, double e2, double dx2) {
  return std::log(e1 / e2) / std::log(dx1 / dx2);
}

void set_case(SimulationState& s, const Duct& c, const Grid& g) {
  Parameters& p = s;
  p = c;
  s.N = g.N;
  s.dt = g.dt;
  s.itmax = g.itmax;
  size_state(s);
}

}  // namespace moody::verification
