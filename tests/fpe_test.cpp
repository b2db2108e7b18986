#include "control/fpe.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "control/fpe_internal.hpp"
#include "control/runtime_error.hpp"

namespace moody {
namespace {

// Keeps the compiler from folding the faulting operations away.
volatile double zero = 0.0;
volatile double big = std::numeric_limits<double>::max();
volatile double tiny = std::numeric_limits<double>::min();

void trapped_division() {
  fpe::install();
  fpe::set_stage("face velocities");
  fpe::set_iteration(7);
  volatile double r = 1.0 / zero;
  (void)r;
  std::_Exit(0);  // not reached when the trap works
}

TEST(FloatingPointTraps, EachFaultEndsTheRunWithItsFrame) {
  EXPECT_EXIT(trapped_division(), ::testing::ExitedWithCode(1),
              "^\nrun-time error M4001: floating-point divide by zero in face velocities, "
              "outer iteration 7\n$");
  EXPECT_EXIT(
      {
        fpe::install();
        fpe::set_stage("momentum solve");
        volatile double r = big * 2.0;
        (void)r;
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(1), "M4002: floating-point overflow in momentum solve\n");
  EXPECT_EXIT(
      {
        fpe::install();
        fpe::set_stage("correction step");
        volatile double r = zero / zero;
        (void)r;
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(1), "M4003: floating-point invalid in correction step\n");
}

TEST(FloatingPointTraps, UnderflowAndInexactGoOn) {
  EXPECT_EXIT(
      {
        fpe::install();
        volatile double r = tiny * tiny;  // underflows to zero
        volatile double q = 1.0 / 3.0;    // inexact
        std::_Exit(r == 0.0 && q > 0.0 ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(FloatingPointTraps, MaskedScopeLetsLibraryCodeRaiseFlags) {
  EXPECT_EXIT(
      {
        fpe::install();
        {
          fpe::Masked quiet;
          volatile double r = big * 2.0;
          if (!std::isinf(r)) std::_Exit(2);
        }
        volatile double r = 1.0 / zero;  // traps again after the scope
        (void)r;
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(1), "M4001");
}

// The advice follows the place of the fault, chosen by the outer iteration;
// a text too long for the buffer is cut, but the frame still ends its line.
TEST(FloatingPointTraps, FrameAddsTheAdviceOfItsIteration) {
  fpe::set_stage("face velocities");
  fpe::set_advice({"outside", "first", "later"});
  char frame[512];
  const struct {
    int iteration;
    const char* text;
  } rows[] = {
      {0, "\nrun-time error M4002: floating-point overflow in face velocities: outside\n"},
      {1,
       "\nrun-time error M4002: floating-point overflow in face velocities, outer iteration 1: "
       "first\n"},
      {9,
       "\nrun-time error M4002: floating-point overflow in face velocities, outer iteration 9: "
       "later\n"},
  };
  for (const auto& row : rows) {
    fpe::set_iteration(row.iteration);
    fpe::frame_for(fpe::Fault::kOverflow, frame, sizeof frame);
    EXPECT_STREQ(frame, row.text);
  }
  const std::string long_text(1000, 'x');
  fpe::set_advice({"", "", long_text});
  const unsigned n = fpe::frame_for(fpe::Fault::kOverflow, frame, sizeof frame);
  const std::string cut(frame);
  EXPECT_EQ(n, cut.size());
  EXPECT_EQ(cut.substr(cut.size() - 3), "xx\n");
  EXPECT_EQ(cut.size() - cut.find('x'), fpe::kAdviceSize);  // 299 x and the line break
  EXPECT_EQ(fpe::frame_for(fpe::Fault::kOverflow, frame, 40), 39u);
  EXPECT_STREQ(frame, "\nrun-time error M4002: floating-point \n");
  fpe::set_advice({});
  fpe::set_iteration(0);
}

TEST(RuntimeErrorFrame, HasTheFixedShape) {
  EXPECT_EQ(frame_text(ErrorCode::kEndOfFile, "dados.txt, line 3: end of file"),
            "\nrun-time error F2001: dados.txt, line 3: end of file\n");
  EXPECT_EQ(frame_text(ErrorCode::kDivideByZero, "x"), "\nrun-time error M4001: x\n");
  EXPECT_EXIT(fatal(ErrorCode::kOpenFailed, "saida.txt: the file (a folder) cannot be opened"),
              ::testing::ExitedWithCode(1),
              "^\nrun-time error F1001: saida.txt: the file \\(a folder\\) cannot be opened\n$");
}

}  // namespace
}  // namespace moody
