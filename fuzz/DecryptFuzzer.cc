// The value cipher. Input: one byte k, then k bytes of key, then the rest.
// The rest, as text up to its first NUL, is decrypted into an output of the
// documented size (L / 2 + 1 bytes) followed by guard bytes; the rest, as any
// bytes at all, goes through EncryptValue and back through DecryptValue.
// Properties: nothing is written past the documented output, the output
// ends after the whole blocks, the static key schedule is wiped after every
// call, the cipher text is upper-case hexadecimal of the documented length,
// a too small output is refused, and decrypting an encryption gives the
// value back, padded with NUL bytes to whole blocks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "settings/Cipher.h"

namespace {

constexpr size_t kGuard = 32;
constexpr unsigned char kGuardByte = 0xA5;

bool ContextIsWiped() {
  const CipherContext& ctx = StaticCipherContext();
  return std::all_of(ctx.P.begin(), ctx.P.end(), [](uint32_t w) { return w == 0; }) &&
         std::all_of(ctx.S.begin(), ctx.S.end(), [](uint32_t w) { return w == 0; });
}

bool GuardIntact(const std::vector<char>& buffer, size_t from) {
  return std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(from), buffer.end(),
                     [](char c) { return static_cast<unsigned char>(c) == kGuardByte; });
}

// Decrypts text (NUL-terminated in an allocation of its exact size) and
// returns the bytes of its whole blocks.
std::string Decrypt(const std::string& text, const char* key) {
  const std::unique_ptr<char[]> input = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(input.get(), text.c_str(), text.size() + 1);
  const size_t room = text.size() / 2 + 1;
  std::vector<char> output(room + kGuard, static_cast<char>(kGuardByte));

  FUZZ_CHECK(DecryptValue(input.get(), output.data(), key) == 1);

  const size_t plain = text.size() / 16 * 8;
  FUZZ_CHECK(output[plain] == '\0');
  FUZZ_CHECK(GuardIntact(output, plain + 1));
  FUZZ_CHECK(ContextIsWiped());
  FUZZ_CHECK(std::string_view(input.get()) == text);
  return std::string(output.data(), plain);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t key_length = std::min<size_t>(data[0], size - 1);
  const std::string key_bytes(reinterpret_cast<const char*>(data + 1), key_length);
  const std::string key(key_bytes.c_str());  // a key is a text: up to its first NUL
  const std::string rest(reinterpret_cast<const char*>(data + 1 + key_length),
                         size - 1 - key_length);

  // Arbitrary text, under the program's own key and under the fuzzed one.
  const std::string text(rest.c_str());
  Decrypt(text, kCipherKeyText);
  Decrypt(text, key.c_str());

  // Round trip of arbitrary bytes.
  const size_t length = EncryptedLength(rest.size());
  std::vector<char> cipher(length + 1 + kGuard, static_cast<char>(kGuardByte));
  FUZZ_CHECK(EncryptValue(rest, std::span(cipher.data(), length + 1), key.c_str()) == 1);
  FUZZ_CHECK(ContextIsWiped());
  FUZZ_CHECK(GuardIntact(cipher, length + 1));
  FUZZ_CHECK(cipher[length] == '\0');
  const std::string hex(cipher.data(), length);
  FUZZ_CHECK(hex.find_first_not_of("0123456789ABCDEF") == std::string::npos);

  std::string padded = rest;
  padded.resize(length / 2, '\0');
  FUZZ_CHECK(Decrypt(hex, key.c_str()) == padded);

  // One byte too few: refused, only the empty text written.
  std::vector<char> small(length + kGuard, static_cast<char>(kGuardByte));
  FUZZ_CHECK(EncryptValue(rest, std::span(small.data(), length), key.c_str()) == 0);
  if (length > 0) FUZZ_CHECK(small[0] == '\0');
  FUZZ_CHECK(GuardIntact(small, length > 0 ? 1 : 0));
  return 0;
}
