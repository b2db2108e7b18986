#pragma once
// One outer iteration of every lane of a group: the program's pass
// (src/flow/pass.hpp) on the lanes' storage, with a value type V that holds
// one double of each lane (lanes.hpp).  The pass is the program's, formula
// for formula and in the same order, so each lane leaves the bits the
// program's pass leaves, and the operations that may raise a floating-point
// fault come in the program's order too.
//
// The lanes keep what kernels.hpp says a pass keeps, read the fields of the
// previous pass from the group's input arrays, and read the grid's masses
// and conductances as the batch formed them once; kFormGrid forms them in
// the pass instead, where the program does, for a replay that must meet
// every operation in the program's order.
//
// Every function here is a template on V: instantiated with a type local to
// one translation unit, none is shared between instruction sets.

#include <cstddef>
#include <type_traits>

#include "flow/pass.hpp"
#include "kernels.hpp"
#include "lanes.hpp"
#include "residual_sums.hpp"

namespace moody::batch {

// One array of the group, element i holding the kLanes values of node i.
template <typename V>
struct LaneArray {
  double* first;
  V operator()(int i) const { return V::load(at(i)); }
  void set(int i, const V& v) const { v.store(at(i)); }
  double* at(int i) const { return first + static_cast<std::ptrdiff_t>(i - 1) * V::kLanes; }
};
template <typename V>
struct LaneInput {
  const double* first;
  V operator()(int i) const {
    return V::load(first + static_cast<std::ptrdiff_t>(i - 1) * V::kLanes);
  }
};

// The stretch of a sweep that a storage without hints streams: none.
struct NoStreams {
  void ask(int /*i*/) const {}
};

template <typename V, bool kFormGrid>
struct LaneStore : PassConstants {
  using Value = V;
  static constexpr bool kFormsGrid = kFormGrid;

  const GridView& g;
  V dt;
  LaneInput<V> u_in_, u0_in_, ue_in_, ue0_in_, p_in_;
  LaneArray<V> u_, u0_, ue_, ue0_, p_, pl_, dP_, de_, P_, Q_;
  LaneArray<V> qml_aW_, qml_aP_, qml_aE_, massa_bP_;

  LaneStore(const GridView& grid, const GroupView& w)
      : PassConstants(constants_of(grid)),
        g(grid),
        dt(V::load(w.dt)),
        u_in_{w.u_in},
        u0_in_{w.u0_in},
        ue_in_{w.ue_in},
        ue0_in_{w.ue0_in},
        p_in_{w.p_in},
        u_{w.u},
        u0_{w.u0},
        ue_{w.ue},
        ue0_{w.ue0},
        p_{w.p},
        pl_{w.pl},
        dP_{w.dP},
        de_{w.de},
        P_{w.P},
        Q_{w.Q},
        qml_aW_{w.qml_aW},
        qml_aP_{w.qml_aP},
        qml_aE_{w.qml_aE},
        massa_bP_{w.massa_bP} {}

  V A(int i) const { return V(g.A[i - 1]); }
  V Ae(int i) const { return V(g.Ae[i - 1]); }
  V D(int i) const { return V(g.D[i - 1]); }
  V Mp(int i) const { return V(g.Mp[i - 1]); }
  V G(int i) const { return V(g.G[i - 1]); }

  V u_in(int i) const { return u_in_(i); }
  V u0_in(int i) const { return u0_in_(i); }
  V ue_in(int i) const { return ue_in_(i); }
  V ue0_in(int i) const { return ue0_in_(i); }
  V p_in(int i) const { return p_in_(i); }

  V u(int i) const { return u_(i); }
  V ue(int i) const { return ue_(i); }
  V dP(int i) const { return dP_(i); }
  V de(int i) const { return de_(i); }
  void set_u(int i, const V& v) const { u_.set(i, v); }
  void set_u0(int i, const V& v) const { u0_.set(i, v); }
  void set_ue(int i, const V& v) const { ue_.set(i, v); }
  void set_ue0(int i, const V& v) const { ue0_.set(i, v); }
  void set_p(int i, const V& v) const { p_.set(i, v); }
  void set_pl(int i, const V& v) const { pl_.set(i, v); }
  void set_dP(int i, const V& v) const { dP_.set(i, v); }
  void set_de(int i, const V& v) const { de_.set(i, v); }

  // Mp and Me are the grid's and follow from ue; of the sets only what a
  // later sweep reads or a search measures (kernels.hpp).
  void set_Mp(int /*i*/, const V& /*v*/) const {}
  void set_Me(int /*i*/, const V& /*v*/) const {}
  void set_row(QmlSet /*set*/, int i, const Row<V>& r) const {
    qml_aW_.set(i, r.aW);
    qml_aP_.set(i, r.aP);
    qml_aE_.set(i, r.aE);
  }
  void set_row(MassaSet /*set*/, int i, const Row<V>& r) const { massa_bP_.set(i, r.bP); }
  V qml_aW(int i) const { return qml_aW_(i); }
  V qml_aP(int i) const { return qml_aP_(i); }
  V qml_aE(int i) const { return qml_aE_(i); }
  V P(int i) const { return P_(i); }
  V Q(int i) const { return Q_(i); }
  void set_work(int i, const Elimination<V>& e) const {
    P_.set(i, e.P);
    Q_.set(i, e.Q);
  }

  template <typename Sweep>
  NoStreams streams(Sweep /*sweep*/) const {
    return {};
  }
};

// The whole pass of the group, N >= 4, and the sums of the residuals of
// each lane into w.sums (imbalance, change, correction, kLanes each); the
// replay in the program's order (kFormGrid) makes only the program's
// operations, and no sums: theirs could raise a flag the program never
// raises.
template <typename V, bool kFormGrid = false>
void batch_pass(const GridView& g, const GroupView& w) {
  const LaneStore<V, kFormGrid> st(g, w);
  std::conditional_t<kFormGrid, NoSums<V>, ResidualSums<V>> sums;
  momentum_forward_sweep(st);
  momentum_back_substitution(st);
  pressure_correction_forward_sweep(st, sums);
  pressure_correction_back_substitution(st, sums);
  if constexpr (!kFormGrid) {
    sums.imbalance.store(w.sums);
    sums.change.store(w.sums + V::kLanes);
    sums.correction.store(w.sums + 2 * V::kLanes);
  }
}

// The passes of one instruction set, on groups of one, two and four vectors
// of W doubles.  Unit is a type local to the translation unit built for that
// set, so that every function instantiated for it stays in that unit; each
// pass has every function of the pass inlined into it, so that the lanes
// stay in registers from one formula to the next.
template <int W, int G, class Unit>
[[gnu::flatten]] void pass_of(const GridView& g, const GroupView& w) {
  batch_pass<Pack<W, G, Unit>>(g, w);
}
// The widest vector, in doubles, that the flags of this unit let the
// compiler emit: a pass of wider vectors needs its instruction set's flags
// (-mavx2, -mavx512f) on the unit that instantiates it.
inline constexpr int kDoublesBuilt =
#if defined(__AVX512F__)
    8;
#elif defined(__AVX2__)
    4;
#else
    2;
#endif

template <int W, class Unit>
constexpr KernelSet kernel_set() {
  static_assert(W <= kDoublesBuilt,
                "a pass of W doubles is built with its instruction set's flags");
  return {W, {pass_of<W, 1, Unit>, pass_of<W, 2, Unit>, pass_of<W, 4, Unit>}};
}

}  // namespace moody::batch
