// Blowfish over the settings file's hexadecimal values.
//
// The key schedule lives in one static context only for the length of one
// call and is wiped before the call returns, so the expanded key of the
// database password never outlasts its decryption.
#include "settings/Cipher.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <string.h>  // explicit_bzero

#include "settings/CipherTables.h"

namespace {

CipherContext gContext{};

constexpr int kRounds = 16;
constexpr int kBlockChars = 16;  // hexadecimal characters of one 8-byte block
constexpr char kHexDigits[] = "0123456789ABCDEF";

// Overwrites memory in a way the compiler may not drop as a dead store.
void Wipe(void* data, std::size_t size) { explicit_bzero(data, size); }

uint32_t Round(const CipherContext& ctx, uint32_t x) {
  const uint32_t a = x >> 24;
  const uint32_t b = (x >> 16) & 0xFF;
  const uint32_t c = (x >> 8) & 0xFF;
  const uint32_t d = x & 0xFF;
  return ((ctx.S[a] + ctx.S[256 + b]) ^ ctx.S[512 + c]) + ctx.S[768 + d];
}

// The value halves of a block are stored least significant byte first.
uint32_t LoadHalf(const unsigned char* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

void StoreHalf(uint32_t half, unsigned char* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(half >> (8 * i));
}

// The value of one hexadecimal character. Nothing is rejected: a character
// outside 0-9 and A-F yields whatever its code gives, modulo 256.
unsigned char HexValue(char c) {
  const auto code = static_cast<unsigned char>(c);
  if (code >= 'A' && code <= 'F') return static_cast<unsigned char>(code - 55);
  return static_cast<unsigned char>(code - 48);
}

void ExpandKeyText(const char* key) {
  const char* text = key != nullptr ? key : "";
  ExpandCipherKey(gContext, reinterpret_cast<const unsigned char*>(text),
                  static_cast<int>(std::strlen(text)));
}

}  // namespace

void EncipherBlock(const CipherContext& ctx, uint32_t& left, uint32_t& right) {
  uint32_t l = left;
  uint32_t r = right;
  for (int i = 0; i < kRounds; ++i) {
    l ^= ctx.P[i];
    r ^= Round(ctx, l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= ctx.P[16];
  l ^= ctx.P[17];
  left = l;
  right = r;
}

void DecipherBlock(const CipherContext& ctx, uint32_t& left, uint32_t& right) {
  uint32_t l = left;
  uint32_t r = right;
  for (int i = kRounds + 1; i > 1; --i) {
    l ^= ctx.P[i];
    r ^= Round(ctx, l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= ctx.P[1];
  l ^= ctx.P[0];
  left = l;
  right = r;
}

// An empty key (length 0 or below) is taken as key bytes that are all zero:
// the cycling through the key then never reads a byte that is not there.
void ExpandCipherKey(CipherContext& ctx, const unsigned char* key, int length) {
  std::copy(kCipherInitialWords.begin() + ctx.P.size(), kCipherInitialWords.end(),
            ctx.S.begin());

  int j = 0;
  for (std::size_t i = 0; i < ctx.P.size(); ++i) {
    uint32_t word = 0;
    for (int k = 0; k < 4; ++k) {
      word <<= 8;
      if (length > 0) {
        word |= key[j];
        if (++j >= length) j = 0;
      }
    }
    ctx.P[i] = kCipherInitialWords[i] ^ word;
  }

  uint32_t left = 0;
  uint32_t right = 0;
  for (std::size_t i = 0; i < ctx.P.size(); i += 2) {
    EncipherBlock(ctx, left, right);
    ctx.P[i] = left;
    ctx.P[i + 1] = right;
  }
  for (std::size_t i = 0; i < ctx.S.size(); i += 2) {
    EncipherBlock(ctx, left, right);
    ctx.S[i] = left;
    ctx.S[i + 1] = right;
  }
}

void HexToBytes(const char* chars, int count, unsigned char* output) {
  for (int i = 0; i + 1 < count; i += 2) {
    output[i / 2] = static_cast<unsigned char>(16 * HexValue(chars[i]) + HexValue(chars[i + 1]));
  }
}

// A text whose length L is not a multiple of 16 ends in a group of 1 to 15
// characters that forms no whole block. That group is ignored: only the
// L / 16 whole blocks are deciphered, and the NUL follows their 8 * (L / 16)
// bytes. So nothing past the text's terminator is read, and at most
// L / 2 + 1 bytes of output are written.
int DecryptValue(const char* text, char* output, const char* key) {
  if (output == nullptr) return 1;
  const std::size_t length = text != nullptr ? std::strlen(text) : 0;
  const std::size_t blocks = length / kBlockChars;

  ExpandKeyText(key);
  unsigned char bytes[8];
  for (std::size_t k = 0; k < blocks; ++k) {
    HexToBytes(text + k * kBlockChars, kBlockChars, bytes);
    uint32_t left = LoadHalf(bytes);
    uint32_t right = LoadHalf(bytes + 4);
    DecipherBlock(gContext, left, right);
    StoreHalf(left, bytes);
    StoreHalf(right, bytes + 4);
    std::memcpy(output + 8 * k, bytes, sizeof bytes);
  }
  output[8 * blocks] = '\0';

  Wipe(bytes, sizeof bytes);
  Wipe(&gContext, sizeof gContext);
  return 1;
}

int EncryptValue(std::string_view plain, std::span<char> output, const char* key) {
  const std::size_t length = EncryptedLength(plain.size());
  if (output.size() < length + 1) {
    if (!output.empty()) output[0] = '\0';
    return 0;
  }

  ExpandKeyText(key);
  unsigned char bytes[8];
  for (std::size_t k = 0; k * 8 < plain.size(); ++k) {
    const std::string_view chunk = plain.substr(k * 8, 8);
    std::memset(bytes, 0, sizeof bytes);
    std::memcpy(bytes, chunk.data(), chunk.size());
    uint32_t left = LoadHalf(bytes);
    uint32_t right = LoadHalf(bytes + 4);
    EncipherBlock(gContext, left, right);
    StoreHalf(left, bytes);
    StoreHalf(right, bytes + 4);
    for (std::size_t m = 0; m < sizeof bytes; ++m) {
      output[k * kBlockChars + 2 * m] = kHexDigits[bytes[m] >> 4];
      output[k * kBlockChars + 2 * m + 1] = kHexDigits[bytes[m] & 0x0F];
    }
  }
  output[length] = '\0';

  Wipe(bytes, sizeof bytes);
  Wipe(&gContext, sizeof gContext);
  return 1;
}

const CipherContext& StaticCipherContext() { return gContext; }
