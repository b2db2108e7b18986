#include "flow_support.hpp"

#include "flow/coef.hpp"

namespace moody::flowtest {

void run(SimulationState& s, const Case& c) {
  start(s, c);
  for (int it = 1; it <= s.itmax; ++it) {
    s.it = it;
    outer_iteration(s);
  }
  inventory(s);
}

namespace {
std::string compare(const char* name, const Array1& a, const Array1& b) {
  if (a.size() != b.size()) return std::string(name) + ": sizes differ";
  for (int i = 1; i <= a.size(); ++i) {
    if (!same_bits(a(i), b(i))) {
      return std::string(name) + "(" + std::to_string(i) + "): " + std::to_string(a(i)) + " vs " +
             std::to_string(b(i));
    }
  }
  return {};
}
}  // namespace

std::string first_difference(const SimulationState& a, const SimulationState& b) {
  if (!same_bits(a.dx, b.dx)) return "dx";
  const struct {
    const char* name;
    const Array1 SimulationState::*member;
  } arrays[] = {
      {"x", &SimulationState::x},   {"D", &SimulationState::D},     {"A", &SimulationState::A},
      {"u", &SimulationState::u},   {"u0", &SimulationState::u0},   {"p", &SimulationState::p},
      {"pl", &SimulationState::pl}, {"Mp", &SimulationState::Mp},   {"dP", &SimulationState::dP},
      {"xe", &SimulationState::xe}, {"De", &SimulationState::De},   {"Ae", &SimulationState::Ae},
      {"ue", &SimulationState::ue}, {"ue0", &SimulationState::ue0}, {"Me", &SimulationState::Me},
      {"de", &SimulationState::de}};
  for (const auto& m : arrays) {
    std::string d = compare(m.name, a.*m.member, b.*m.member);
    if (!d.empty()) return d;
  }
  const struct {
    const char* name;
    const CoefficientSet SimulationState::*set;
  } sets[] = {{"QML", &SimulationState::QML}, {"MASSA", &SimulationState::MASSA}};
  for (const auto& c : sets) {
    const CoefficientSet& x = a.*c.set;
    const CoefficientSet& y = b.*c.set;
    for (const auto& [n, xa, ya] :
         {std::tuple{".aW", &x.aW, &y.aW}, std::tuple{".aP", &x.aP, &y.aP},
          std::tuple{".aE", &x.aE, &y.aE}, std::tuple{".bP", &x.bP, &y.bP}}) {
      std::string d = compare((std::string(c.name) + n).c_str(), *xa, *ya);
      if (!d.empty()) return d;
    }
  }
  return {};
}

}  // namespace moody::flowtest
