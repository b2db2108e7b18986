// Parts of the trap machinery shared by both platforms.  The handler runs in
// signal (or exception) context, so everything here is plain character
// copying, no allocation and no stdio.

#include <atomic>
#include <cfenv>

#include "control/fpe.hpp"
#include "control/fpe_internal.hpp"

namespace moody::fpe {

namespace {
// Where the run is, for the handler.  Atomic, because the companion tools
// run several grids at once on threads that all pass through set_stage;
// lock-free, so that the handler may read them; relaxed, because each is a
// value on its own.
std::atomic<const char*> g_stage{"start-up"};
std::atomic<int> g_iteration{0};
static_assert(std::atomic<const char*>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// The advice for a fault outside the loop, in the first pass, in a later one.
char g_advice[3][kAdviceSize] = {};

// Appends `s` to buf at *pos, leaving room for the NUL.
void put(char* buf, unsigned size, unsigned* pos, const char* s) {
  while (*s != '\0' && *pos + 1 < size)
    buf[(*pos)++] = *s++;
}

void put_int(char* buf, unsigned size, unsigned* pos, int v) {
  char digits[16];
  int n = 0;
  unsigned magnitude = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (v < 0) digits[n++] = '-';
  char text[17];
  for (int k = 0; k < n; ++k)
    text[k] = digits[n - 1 - k];
  text[n] = '\0';
  put(buf, size, pos, text);
}

// The diagnostic's text at *pos, within the first `size` bytes of buf.
void put_description(const char* fault, char* buf, unsigned size, unsigned* pos) {
  put(buf, size, pos, "floating-point ");
  put(buf, size, pos, fault);
  put(buf, size, pos, " in ");
  put(buf, size, pos, g_stage.load(std::memory_order_relaxed));
  const int it = g_iteration.load(std::memory_order_relaxed);
  if (it > 0) {
    put(buf, size, pos, ", outer iteration ");
    put_int(buf, size, pos, it);
  }
  const char* advice = g_advice[it <= 0 ? 0 : (it == 1 ? 1 : 2)];
  if (advice[0] != '\0') {
    put(buf, size, pos, ": ");
    put(buf, size, pos, advice);
  }
}
}  // namespace

void set_stage(const char* name) {
  g_stage.store(name, std::memory_order_relaxed);
}
void set_iteration(int it) {
  g_iteration.store(it, std::memory_order_relaxed);
}

void set_advice(const Advice& advice) {
  const std::string_view texts[3] = {advice.outside_loop, advice.first_pass, advice.later_passes};
  for (int k = 0; k < 3; ++k) {
    const std::size_t n = texts[k].size() < kAdviceSize ? texts[k].size() : kAdviceSize - 1;
    texts[k].copy(g_advice[k], n);
    g_advice[k][n] = '\0';
  }
}

void describe(const char* fault, char* buf, unsigned size) {
  unsigned pos = 0;
  put_description(fault, buf, size, &pos);
  if (size > 0) buf[pos] = '\0';
}

unsigned frame_for(Fault fault, char* buf, unsigned size) {
  if (size < 2) return 0;
  // A text too long for buf is cut, but the frame's closing line break stays.
  const unsigned text_size = size - 1;
  unsigned pos = 0;
  put(buf, text_size, &pos, "\nrun-time error M");
  put_int(buf, text_size, &pos, static_cast<int>(code_of(fault)));
  put(buf, text_size, &pos, ": ");
  put_description(name_of(fault), buf, text_size, &pos);
  buf[pos++] = '\n';
  buf[pos] = '\0';
  return pos;
}

std::optional<Fault> fault_of_flags(int flags) {
  if ((flags & FE_DIVBYZERO) != 0) return Fault::kDivideByZero;
  if ((flags & FE_OVERFLOW) != 0) return Fault::kOverflow;
  if ((flags & FE_INVALID) != 0) return Fault::kInvalid;
  return std::nullopt;
}

}  // namespace moody::fpe
