// Arithmetic on unsigned 64-bit quantities (milliseconds, seconds, counts) that stays at the
// maximum instead of wrapping round to a small number. Portable.
#pragma once

#include <cstdint>
#include <limits>

namespace wd {

inline constexpr std::uint64_t U64_MAX = std::numeric_limits<std::uint64_t>::max();

constexpr std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return a > U64_MAX - b ? U64_MAX : a + b;
}

// n + 1, or n when n is already the type's maximum (counters of any unsigned width).
template <typename Unsigned>
constexpr Unsigned saturating_increment(Unsigned n) {
    static_assert(std::numeric_limits<Unsigned>::is_integer &&
                  !std::numeric_limits<Unsigned>::is_signed);
    return n == std::numeric_limits<Unsigned>::max() ? n : static_cast<Unsigned>(n + 1);
}

constexpr std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
    return b != 0 && a > U64_MAX / b ? U64_MAX : a * b;
}

}  // namespace wd
