#pragma once
// The program's state as the storage of a pass (pass.hpp): every field in
// place, every coefficient of both sets kept, Mp and Me stored, the grid's
// masses and conductances formed where the plain steps form them, and the
// streams of each sweep asked for ahead of it.

#include <array>
#include <cstddef>

#include "control/state.hpp"
#include "flow/pass.hpp"

namespace moody {

// A sweep streams nine to fifteen arrays at once, more than the processor's
// own prefetchers follow; on a grid larger than the caches it would wait for
// its data at every line.  So it asks for the lines kAhead elements ahead of
// it, in every array it streams, once per cache line.  A hint only: no value
// changes.
template <std::size_t n>
struct Streams {
  std::array<const double*, n> first;  // element 1 of each array

  // Starts loading element i of every array, for every eighth i (a line
  // holds eight elements).  1 <= i <= N-1, so face arrays are covered too.
  void ask(int i) const {
    if ((i & 7) != 0) return;
    for (const double* a : first) {
#if defined(__GNUC__)
      __builtin_prefetch(a + (i - 1));
#else
      (void)a;
#endif
    }
  }
};
template <typename... T>
Streams(T...) -> Streams<sizeof...(T)>;

struct StateStore : PassConstants {
  using Value = double;
  static constexpr bool kFormsGrid = true;

  SimulationState& s;
  double dt;

  explicit StateStore(SimulationState& state)
      : PassConstants(constants_of(state)), s(state), dt(state.dt) {}

  double A(int i) const { return s.A(i); }
  double Ae(int i) const { return s.Ae(i); }
  double D(int i) const { return s.D(i); }
  double Mp(int i) const { return s.Mp(i); }

  double u_in(int i) const { return s.u(i); }
  double u0_in(int i) const { return s.u0(i); }
  double ue_in(int i) const { return s.ue(i); }
  double ue0_in(int i) const { return s.ue0(i); }
  double p_in(int i) const { return s.p(i); }

  double u(int i) const { return s.u(i); }
  double ue(int i) const { return s.ue(i); }
  double dP(int i) const { return s.dP(i); }
  double de(int i) const { return s.de(i); }
  void set_u(int i, double v) const { s.u(i) = v; }
  void set_u0(int i, double v) const { s.u0(i) = v; }
  void set_ue(int i, double v) const { s.ue(i) = v; }
  void set_ue0(int i, double v) const { s.ue0(i) = v; }
  void set_p(int i, double v) const { s.p(i) = v; }
  void set_pl(int i, double v) const { s.pl(i) = v; }
  void set_dP(int i, double v) const { s.dP(i) = v; }
  void set_de(int i, double v) const { s.de(i) = v; }

  void set_Mp(int i, double v) const { s.Mp(i) = v; }
  void set_Me(int i, double v) const { s.Me(i) = v; }
  void set_row(QmlSet /*set*/, int i, const Row<double>& r) const { s.QML.set(i, r); }
  void set_row(MassaSet /*set*/, int i, const Row<double>& r) const { s.MASSA.set(i, r); }
  double qml_aW(int i) const { return s.QML.aW(i); }
  double qml_aP(int i) const { return s.QML.aP(i); }
  double qml_aE(int i) const { return s.QML.aE(i); }
  double P(int i) const { return s.work.P(i); }
  double Q(int i) const { return s.work.Q(i); }
  void set_work(int i, const Elimination<double>& e) const {
    s.work.P(i) = e.P;
    s.work.Q(i) = e.Q;
  }

  // What each sweep reads and writes.
  auto streams(MomentumUp /*sweep*/) const {
    const CoefficientSet& q = s.QML;
    return Streams{s.A.data(),  s.ue.data(), s.Ae.data(), s.u.data(),      s.D.data(),
                   s.p.data(),  s.u0.data(), s.Mp.data(), s.Me.data(),     q.aW.data(),
                   q.aE.data(), q.aP.data(), q.bP.data(), s.work.P.data(), s.work.Q.data()};
  }
  auto streams(MomentumDown /*sweep*/) const {
    const CoefficientSet& q = s.QML;
    return Streams{s.work.P.data(), s.work.Q.data(), s.A.data(),   q.aP.data(), q.aW.data(),
                   q.aE.data(),     s.Mp.data(),     s.ue0.data(), s.p.data(),  s.Ae.data(),
                   s.u.data(),      s.dP.data(),     s.ue.data(),  s.de.data()};
  }
  auto streams(CorrectionUp /*sweep*/) const {
    const CoefficientSet& m = s.MASSA;
    return Streams{s.Ae.data(), s.de.data(), s.ue.data(),     m.aW.data(),    m.aE.data(),
                   m.aP.data(), m.bP.data(), s.work.P.data(), s.work.Q.data()};
  }
  auto streams(CorrectionDown /*sweep*/) const {
    return Streams{s.work.P.data(), s.work.Q.data(), s.dP.data(), s.de.data(), s.p.data(),
                   s.u.data(),      s.ue.data(),     s.pl.data(), s.u0.data(), s.ue0.data()};
  }
};

}  // namespace moody
