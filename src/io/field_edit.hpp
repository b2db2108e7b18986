#pragma once
// The editors of one field of a record: Iw and Ew.d with scale factor 1.

#include <cstdint>

namespace moody {

// Each writes exactly w characters at `field` (w >= 0,
// d >= 0): the text right-justified, or w asterisks if it does not fit.
void edit_integer(std::int32_t v, int w, char* field);
// Ew.d with scale factor 1.  The fast path; falls back to exact arithmetic
// when it cannot decide a rounding.  Infinities and NaN, which the run never
// produces, are written as "Inf", "-Inf" and "NaN".
void edit_real(double v, int w, int d, char* field);
// The same result by exact big-integer arithmetic on the decimal expansion.
void edit_real_exact(double v, int w, int d, char* field);

}  // namespace moody
