#include "grid_options.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

#include "io/input_number.hpp"
#include "text_format.hpp"

namespace moody::convergence {

namespace {

// An integer list "52,102,202"; false when it is not one.
bool parse_list(std::string_view text, std::vector<int>& out) {
  out.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view item = text.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    if (item.empty() || item.find_first_not_of("0123456789") != std::string_view::npos)
      return false;
    const input_number::IntegerResult n = input_number::read_integer(item);
    if (n.status != input_number::Status::kOk) return false;
    out.push_back(n.value);
    if (comma == std::string_view::npos) return true;
    start = comma + 1;
  }
}

// --grid=LIST: the grids, sorted and checked.
int take_grid_list(std::string_view list, GridOptions& options, std::string& problem) {
  options.active = true;
  if (!parse_list(list, options.grids)) {
    problem = "--grid=N1,N2,...: a list of whole numbers separated by commas, not \"" +
              std::string(list) + "\"";
    return -1;
  }
  if (const std::string bad = sort_and_check_grids(options.grids); !bad.empty()) {
    problem = "--grid: " + bad;
    return -1;
  }
  return 1;
}

// --target PERCENT or --target=PERCENT, the value in `value`.
int take_target(std::string_view value, bool separate, GridOptions& options, std::string& problem) {
  if (options.target_given) {
    problem = "--target is given twice";
    return -1;
  }
  const input_number::RealResult r = input_number::read_real(value);
  if (r.status != input_number::Status::kOk || !(r.value >= kLeastTarget) ||
      !(r.value <= kGreatestTarget)) {
    problem =
        format("--target: a GCI in percent, from %g to %g, not \"", kLeastTarget, kGreatestTarget) +
        std::string(value) + "\"";
    return -1;
  }
  options.target = r.value / 100.0;
  options.target_text = std::string(value);
  options.target_given = true;
  return separate ? 2 : 1;
}

}  // namespace

int take_grid_option(int argc, char** argv, int k, GridOptions& options, std::string& problem) {
  const std::string_view arg = argv[k];
  if (arg == "--grid") {
    options.active = true;
    options.grids.clear();
    return 1;
  }
  if (arg.starts_with("--grid=")) return take_grid_list(arg.substr(7), options, problem);
  const bool separate = arg == "--target";
  if (separate || arg.starts_with("--target=")) {
    if (separate && k + 1 >= argc) {
      problem = "--target needs a value, the GCI in percent";
      return -1;
    }
    const std::string_view value = separate ? std::string_view(argv[k + 1]) : arg.substr(9);
    return take_target(value, separate, options, problem);
  }
  return 0;
}

std::string grid_options_problem(const GridOptions& options, bool window) {
  if (options.target_given && !options.active) return "--target goes with --grid";
  if (options.active && window) return "--grid and --window are two different studies";
  return "";
}

std::string sort_and_check_grids(std::vector<int>& grids) {
  std::sort(grids.begin(), grids.end());
  if (grids.size() < 3) return "a study needs three grids or more";
  if (grids.front() < 3) {
    return "N = " + std::to_string(grids.front()) + " has no real volume; every N must be >= 3";
  }
  for (std::size_t k = 1; k < grids.size(); ++k) {
    const double ratio = real_volumes(grids[k]) / real_volumes(grids[k - 1]);
    if (!(ratio >= kMinimumRatio)) {
      return format(
          "N = %d and N = %d are too close: the refinement ratio (N_a - 2)/(N_b - 2) = %.4g "
          "must be at least %.1f",
          grids[k - 1], grids[k], ratio, kMinimumRatio);
    }
  }
  return "";
}

std::string study_grids(const GridOptions& options, int N, std::vector<int>& grids) {
  if (!options.grids.empty()) {
    grids = options.grids;
    return "";
  }
  grids = default_grids(N);
  if (grids.empty()) return format("N = %d of dados.txt is too large to refine", N);
  if (const std::string bad = sort_and_check_grids(grids); !bad.empty())
    return format("the grids of N = %d of dados.txt: ", N) + bad;
  return "";
}

std::vector<int> next_round_grids(const std::vector<int>& run, int finest, double needed) {
  constexpr double kLargest = std::numeric_limits<std::int32_t>::max();
  // The three grids whose finest has `volumes`, and their work where not run.
  const auto round_of = [&](double volumes, double& work) {
    std::vector<int> grids;
    work = 0.0;
    for (const double v : {volumes / 4.0, volumes / 2.0, volumes}) {
      const int N = static_cast<int>(v) + 2;
      grids.push_back(N);
      if (std::find(run.begin(), run.end(), N) == run.end()) work += v * v;
    }
    return grids;
  };
  const double least = std::max(needed, static_cast<double>(finest) + 1.0) - 2.0;
  if (!(least + 2.0 <= kLargest)) return {};
  double doubled = real_volumes(finest) * 2.0;
  while (doubled < least)
    doubled *= 2.0;
  double work_doubled = 0.0, work_needed = 0.0;
  std::vector<int> by_doubling = round_of(doubled, work_doubled);
  std::vector<int> by_need = round_of(4.0 * std::ceil(least / 4.0), work_needed);
  if (doubled + 2.0 <= kLargest && work_doubled <= work_needed) return by_doubling;
  return by_need;
}

std::vector<int> default_grids(int N) {
  const std::int64_t n = N;
  const std::int64_t finest = 4 * (n - 2) + 2;
  if (finest > std::numeric_limits<std::int32_t>::max()) return {};
  return {N, static_cast<int>(2 * (n - 2) + 2), static_cast<int>(finest)};
}

}  // namespace moody::convergence
