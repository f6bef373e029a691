#pragma once

#include <cstdint>

namespace korvane {

// Value of a pair of hexadecimal characters, high digit first. The digit of c is c - 48 up
// to '9' and c - 55 above, with no validation: 'A'..'F' give 10..15, other characters give
// values outside 0..15 ("aa" is 714, " 0" is -256). Computed in 32-bit two's complement.
constexpr std::int32_t ValeurHex(std::uint32_t c1, std::uint32_t c2)
{
    auto digit = [](std::uint32_t c) -> std::uint32_t { return c <= 57 ? c - 48 : c - 55; };
    return static_cast<std::int32_t>(16u * digit(c1) + digit(c2));
}

} // namespace korvane
