#include "grid_files.hpp"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "control/runtime_error.hpp"
#include "example_scripts.hpp"
#include "grid_files_os.hpp"
#include "io/input_number.hpp"

namespace moody::convergence {

namespace grid_files_os {

namespace {
Temporaries g_temporaries;
}  // namespace

Temporaries& temporaries() {
  return g_temporaries;
}

}  // namespace grid_files_os

namespace os = grid_files_os;

namespace {

// The files of a grid's folder, in the order they are written.
constexpr const char* kGridFiles[] = {"dados.txt", "saida.txt", "u.dat", "p.dat", "u.gnu", "p.gnu"};
constexpr std::size_t kGridFileCount = std::size(kGridFiles);

constexpr const char* kLinkRefused = "it is a link; the study writes only into a folder of its own";

// Why the folder of a grid cannot be used ("" where it can: a real folder,
// or none yet).
std::string folder_problem(const std::string& folder) {
  switch (os::kind_of(folder)) {
    case os::Kind::kMissing:
    case os::Kind::kFolder:
      return "";
    case os::Kind::kLink:
      return kLinkRefused;
    default:
      return "it is not a folder";
  }
}

// A table is renamed over whatever file or link has its name; a folder of
// that name would stop the rename.
std::string table_problem(const std::string& name) {
  return os::kind_of(name) == os::Kind::kFolder ? "it is a folder" : "";
}

// The text of the plot script `name` for the grid folders: FOLDER's own where
// it is a file there, else the example's.
std::string script_text(const char* name, std::string_view example) {
  if (os::kind_of(name) != os::Kind::kFile) return std::string(example);
  std::string text;
  if (const std::string problem = os::read_file(name, text); !problem.empty()) {
    fatal(ErrorCode::kOpenFailed, std::string(name) + ": cannot read the file: " + problem);
  }
  return text;
}

// The temporaries of one transaction, removed when it ends (or fails, or is
// interrupted) unless put in place.
class Transaction {
 public:
  explicit Transaction(std::size_t capacity) : list_(capacity), t_(os::temporaries()) {
    t_.list = list_.data();
    t_.first = 0;
    t_.live = 0;
    os::watch_interrupts(true);
  }
  ~Transaction() {
    discard();
    os::watch_interrupts(false);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Makes the folder, or the file holding `bytes`, at `base` (with `unique`,
  // at the first free "base.PID-k"), and lists it; its path in `path`.
  std::string make(const std::string& base, bool unique, bool folder, std::string_view bytes,
                   std::string& path) {
    for (int attempt = 0;; ++attempt) {
      path = base;
      if (unique) {
        path.append(".").append(std::to_string(os::process_number()));
        path.append("-").append(std::to_string(attempt));
      }
      if (path.size() >= sizeof list_[0].path) return "the name is too long";
      if (static_cast<std::size_t>(t_.live) >= list_.size()) return "too many files at once";
      bool taken = false;
      os::hold_interrupts();
      std::string problem = folder ? os::new_folder(path, taken) : os::new_file(path, bytes, taken);
      if (problem.empty()) {
        os::Temporary& e = list_[static_cast<std::size_t>(t_.live)];
        std::copy(path.begin(), path.end(), e.path);
        e.path[path.size()] = '\0';
        e.folder = folder;
        t_.live = t_.live + 1;
      }
      os::let_go_interrupts();
      if (problem.empty() || !taken || !unique || attempt >= 100) return problem;
    }
  }

  // The first `n` temporaries listed are in place: no longer removed.
  void placed(std::size_t n) { t_.first = t_.first + static_cast<std::sig_atomic_t>(n); }

  // Removes the temporaries not put in place, the last made first.
  void discard() {
    os::hold_interrupts();
    for (std::sig_atomic_t k = t_.live; k > t_.first; --k)
      os::remove(t_.list[k - 1].path, t_.list[k - 1].folder);
    t_.live = t_.first;
    os::let_go_interrupts();
  }

  // Removes the temporaries and ends the run.
  [[noreturn]] void fail(ErrorCode code, const std::string& description) {
    discard();
    fatal(code, description);
  }

 private:
  std::vector<os::Temporary> list_;  // never resized: the handler reads it
  os::Temporaries& t_;
};

// Moves what the old folder `old` of a grid holds besides the grid's files
// into its new folder `folder`, and removes the old folder with the grid's
// old files.  "" or what is said of what it cannot move or remove.
std::string keep_the_rest(const std::string& old, const std::string& folder) {
  std::vector<std::string> names;
  std::string problem = os::names_in(old, names);
  for (const std::string& name : names) {
    if (!problem.empty()) break;
    const bool grids =
        std::find(std::begin(kGridFiles), std::end(kGridFiles), name) != std::end(kGridFiles);
    problem = grids ? os::remove(old + "/" + name, false)
                    : os::move(old + "/" + name, folder + "/" + name);
    if (!problem.empty()) problem = name + ": " + problem;
  }
  if (problem.empty()) problem = os::remove(old, true);
  if (problem.empty()) return "";
  return folder + ": what its earlier folder held besides the study's files is kept in " + old +
         " (" + problem + ")\n";
}

// Puts the new folder `hidden` in the place of `folder`: swapped for the old
// one in one step where the system can, else the old one moved aside and the
// new one moved in (and the old one back where that fails).  What is said of
// the old folder's other files goes into `said`.
std::string put_in_place(const std::string& hidden, const std::string& folder, std::string& said) {
  if (os::kind_of(folder) == os::Kind::kMissing) return os::move(hidden, folder);
  std::string old = hidden;
  bool unsupported = false;
  std::string problem = os::exchange(hidden, folder, unsupported);
  if (unsupported) {
    old = hidden + "-old";
    problem = os::move(folder, old);
    if (problem.empty()) {
      problem = os::move(hidden, folder);
      if (!problem.empty()) os::move(old, folder);
    }
  }
  if (problem.empty()) said += keep_the_rest(old, folder);
  return problem;
}

// "malha-26, malha-802 are", "malha-26 is".
std::string names_text(const std::vector<std::string>& names) {
  std::string t;
  for (const std::string& name : names)
    t += (t.empty() ? "" : ", ") + name;
  return t + (names.size() == 1 ? " is" : " are");
}

// The stale folders of FOLDER: each real folder named malha-<digits> that is
// not the folder of a grid of `runs` that converges.
std::string stale_text(const std::vector<GridRun>& runs) {
  std::vector<std::string> names;
  if (const std::string problem = os::names_in(".", names); !problem.empty())
    return "stale folders: cannot list the folder (" + problem + ")\n";
  std::vector<std::string> earlier, failed;
  for (const std::string& name : names) {
    const std::string_view digits =
        std::string_view(name).substr(std::min<std::size_t>(6, name.size()));
    if (name.rfind("malha-", 0) != 0 || digits.empty() ||
        !std::all_of(digits.begin(), digits.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }) ||
        os::kind_of(name) != os::Kind::kFolder) {
      continue;
    }
    const auto grid = std::find_if(runs.begin(), runs.end(),
                                   [&](const GridRun& g) { return folder_of(g.N) == name; });
    if (grid == runs.end()) {
      earlier.push_back(name);
    } else if (!grid->converged) {
      failed.push_back(name);
    }
  }
  // In the order of N: the shorter digits first, then as text.
  for (std::vector<std::string>* list : {&earlier, &failed}) {
    std::sort(list->begin(), list->end(), [](const std::string& a, const std::string& b) {
      return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
  }
  const bool one = earlier.size() + failed.size() == 1;
  std::string t;
  if (!earlier.empty())
    t += "stale: " + names_text(earlier) + " from an earlier study (not these grids)";
  if (!failed.empty()) {
    t += (t.empty() ? "stale: " : "; ") + names_text(failed) + " from an earlier study (" +
         (failed.size() == 1 ? "its grid does" : "their grids do") + " not converge in this one)";
  }
  return t.empty() ? t : t + (one ? "; kept as it is\n" : "; kept as they are\n");
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

void check_grid_folders(const std::vector<int>& grids, const std::vector<std::string>& tables) {
  for (const int N : grids) {
    const std::string folder = folder_of(N);
    if (const std::string problem = folder_problem(folder); !problem.empty())
      fatal(ErrorCode::kOpenFailed, folder + ": cannot use the folder: " + problem);
  }
  for (const std::string& name : tables) {
    if (const std::string problem = table_problem(name); !problem.empty())
      fatal(ErrorCode::kOpenFailed, name + ": cannot write the file: " + problem);
  }
  script_text("u.gnu", kExampleUGnu);
  script_text("p.gnu", kExamplePGnu);
  Transaction probe(1);
  std::string path;
  if (const std::string problem = probe.make(".malhas", true, true, {}, path); !problem.empty())
    probe.fail(ErrorCode::kOpenFailed, path + ": cannot make a folder: " + problem);
}

std::string write_grid_files(const std::vector<GridRun>& runs,
                             const std::vector<TableFile>& tables) {
  std::vector<const GridRun*> written;
  for (const GridRun& g : runs) {
    if (g.converged) written.push_back(&g);
  }
  // No grid converges: the files of the study before stay, the tables with
  // the folders they list.
  if (written.empty()) return "";
  const std::string u_gnu = script_text("u.gnu", kExampleUGnu);
  const std::string p_gnu = script_text("p.gnu", kExamplePGnu);

  Transaction t(written.size() * (1 + kGridFileCount) + tables.size());
  std::vector<std::string> hidden(written.size()), temporary(tables.size());
  for (std::size_t k = 0; k < written.size(); ++k) {
    const GridRun& g = *written[k];
    const std::string folder = folder_of(g.N);
    if (const std::string problem = t.make("." + folder, true, true, {}, hidden[k]);
        !problem.empty()) {
      t.fail(ErrorCode::kOpenFailed, hidden[k] + ": cannot make the folder: " + problem);
    }
    const std::string dados = dados_text(g.folder_parameters);
    const std::string_view texts[] = {dados, g.texts.saida, g.texts.u, g.texts.p, u_gnu, p_gnu};
    static_assert(std::size(texts) == kGridFileCount);
    for (std::size_t f = 0; f < kGridFileCount; ++f) {
      std::string path;
      if (const std::string problem =
              t.make(hidden[k] + "/" + kGridFiles[f], false, false, texts[f], path);
          !problem.empty()) {
        t.fail(ErrorCode::kWriteFailed,
               folder + "/" + kGridFiles[f] + ": cannot write the file: " + problem);
      }
    }
  }
  for (std::size_t k = 0; k < tables.size(); ++k) {
    if (const std::string problem =
            t.make("." + tables[k].name, true, false, tables[k].text, temporary[k]);
        !problem.empty()) {
      t.fail(ErrorCode::kWriteFailed, tables[k].name + ": cannot write the file: " + problem);
    }
  }
  // The places checked again, as they are now, before anything is put there.
  for (const GridRun* g : written) {
    const std::string folder = folder_of(g->N);
    if (const std::string problem = folder_problem(folder); !problem.empty())
      t.fail(ErrorCode::kOpenFailed, folder + ": cannot use the folder: " + problem);
  }
  for (const TableFile& table : tables) {
    if (const std::string problem = table_problem(table.name); !problem.empty())
      t.fail(ErrorCode::kOpenFailed, table.name + ": cannot write the file: " + problem);
  }

  // Into place, grid by grid, the tables last; an interrupt waits until all
  // are.
  std::string said;
  os::hold_interrupts();
  for (std::size_t k = 0; k < written.size(); ++k) {
    const std::string folder = folder_of(written[k]->N);
    if (const std::string problem = put_in_place(hidden[k], folder, said); !problem.empty()) {
      os::let_go_interrupts();
      t.fail(ErrorCode::kWriteFailed, folder + ": cannot put the new folder in place: " + problem);
    }
    t.placed(1 + kGridFileCount);
  }
  for (std::size_t k = 0; k < tables.size(); ++k) {
    if (const std::string problem = os::move(temporary[k], tables[k].name); !problem.empty()) {
      os::let_go_interrupts();
      t.fail(ErrorCode::kWriteFailed, tables[k].name + ": cannot write the file: " + problem);
    }
    t.placed(1);
  }
  os::let_go_interrupts();
  return said + stale_text(runs);
}

}  // namespace moody::convergence
