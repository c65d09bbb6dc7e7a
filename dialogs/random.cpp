// The small pseudo-random generator: x <- x * 134775813 + 1 (mod 2^32).
#include "dialogs.h"

#include <algorithm>
#include <cstring>

namespace dlg {

namespace {

uint32_t random_state = 0;

}  // namespace

void seed(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    random_state = bits;
}

int32_t random_between(int32_t a, int32_t b) {
    random_state = random_state * 134775813u + 1u;
    double u = static_cast<double>(random_state >> 1) / 2147483648.0;
    // In double, so that b - a + 1 cannot overflow for any 32-bit bounds.
    double span = static_cast<double>(b) - static_cast<double>(a) + 1.0;
    int32_t value = round_to_int32(u * span + static_cast<double>(a) - 0.5);
    // u = 0 gives a - 0.5, which ties to even rounds to a - 1 for an odd a: keep the draw
    // within the promised range.
    if (a <= b) value = std::clamp(value, a, b);
    return value;
}

}  // namespace dlg
