// The cipher's published initial words: the hexadecimal digits of the
// fractional part of pi, eight digits to a word, in order. Words 0..17 are the
// initial subkeys P[0..17]; words 18..1041 the initial S-boxes S[0]..S[3].
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kCipherInitialWordCount = 18 + 4 * 256;

extern const std::array<uint32_t, kCipherInitialWordCount> kCipherInitialWords;
