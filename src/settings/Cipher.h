// The password cipher: Blowfish (64-bit block, 16 rounds) in electronic
// codebook mode over upper-case hexadecimal text whose 32-bit halves are read
// least significant byte first. The program only decrypts; EncryptValue exists
// for the operator's settings tool.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

struct CipherContext {
  std::array<uint32_t, 18> P;
  std::array<uint32_t, 4 * 256> S;  // S[0] .. S[3], 256 words each
};

// The fixed key text of the settings file values.
inline constexpr char kCipherKeyText[] = "QUARNEL";

// Decrypts the hexadecimal text into output (at least L/2 + 1 bytes, where L is
// the text's length) and NUL-terminates it. Returns 1 in every case. The
// module's one CipherContext is zero again when it returns.
int DecryptValue(const char* text, char* output, const char* key);

void ExpandCipherKey(CipherContext& ctx, const unsigned char* key, int length);
void EncipherBlock(const CipherContext& ctx, uint32_t& left, uint32_t& right);
void DecipherBlock(const CipherContext& ctx, uint32_t& left, uint32_t& right);
void HexToBytes(const char* chars, int count, unsigned char* output);

// Length of the hexadecimal text that EncryptValue makes of a plain value of
// plainLength bytes: 16 characters for each started 8-byte block.
constexpr std::size_t EncryptedLength(std::size_t plainLength) {
  return (plainLength + 7) / 8 * 16;
}

// Enciphers plain, padded with NUL bytes to whole blocks, into upper-case
// hexadecimal text that DecryptValue turns back into plain, and NUL-terminates
// it. Returns 1, or 0 when output holds fewer than EncryptedLength + 1 bytes
// (output is then the empty text if it has room for one byte). The module's
// one CipherContext is zero again when it returns.
int EncryptValue(std::string_view plain, std::span<char> output, const char* key);

// The module's static cipher state, for tests that check it is cleared.
const CipherContext& StaticCipherContext();
