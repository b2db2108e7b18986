#pragma once
// What a batch pass works on, and the passes built for each instruction set.
//
// A group holds the lanes that one pass advances together.  Each of its
// arrays holds, for node (or face) i, the values of all its lanes side by
// side: lane l of element i is first[(i-1)*lanes + l].  The five fields that
// a pass reads from the one before (u, u0, ue, ue0, p) are kept twice: a
// pass reads one copy and writes the other, so that the state before the
// pass stays at hand until the next one.  The grid's values are the same in
// every lane and are kept once, as doubles.
//
// A pass stores only what a later sweep reads and what a search measures
// after every pass: of the QML set aW, aP and aE (the face velocities and
// dP read them), of the MASSA set bP (the mass residual).  The rest of the
// state of a pass, Me, the QML set's bP and the MASSA set's aW, aP and aE,
// follows from the state before it and from de by the same formulas, and the
// batch forms it only when asked (batch.cpp): five streams fewer through the
// caches in every pass.
//
// Only plain data here: the translation units of the wider instruction sets
// include this header, and no function of theirs may be shared with code
// built for a narrower one.

namespace moody::batch {

// The grid and the fluid, the same in every lane.  Arrays start at element 1.
struct GridView {
  int N;
  double mi, ro, f, Uin, dx, pi;
  const double* A;   // node areas
  const double* Ae;  // face areas
  const double* D;   // node diameters
  const double* Mp;  // volume masses, A(i)*dx*ro
  const double* G;   // viscous conductances of the faces, Ae(i)*mi/dx
};

// The lanes of one group.
struct GroupView {
  const double* dt;  // time step of each lane
  // The fields before the pass ...
  const double *u_in, *u0_in, *ue_in, *ue0_in, *p_in;
  // ... and after it.
  double *u, *u0, *ue, *ue0, *p;
  double *pl, *dP, *de;
  double *qml_aW, *qml_aP, *qml_aE;  // of the QML set
  double* massa_bP;                  // of the MASSA set
  double *P, *Q;                     // the solver's work pair
  double* sums;                      // the residuals' sums of the pass (batch_pass.hpp)
};

using PassKernel = void (*)(const GridView& grid, const GroupView& group);

// The passes of one instruction set, on groups of one, two or four vectors of
// `doubles` doubles each.
struct KernelSet {
  int doubles;
  PassKernel by_vectors[3];  // 1, 2, 4 vectors per group
};

// Built for every target: SSE2 on x86-64 (two doubles), or one double per
// vector where the compiler has no vector extensions.
extern const KernelSet kBaselineKernels;
#if defined(MOODY_BATCH_X86_WIDTHS)
extern const KernelSet kAvx2Kernels;    // four doubles
extern const KernelSet kAvx512Kernels;  // eight doubles
#endif

}  // namespace moody::batch
