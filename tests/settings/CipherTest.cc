#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "settings/Cipher.h"

namespace {

std::vector<unsigned char> Bytes(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

uint32_t Word(const std::string& hex, int half) {
  return static_cast<uint32_t>(std::stoul(hex.substr(8 * half, 8), nullptr, 16));
}

bool ContextIsZero() {
  const CipherContext& ctx = StaticCipherContext();
  return std::all_of(ctx.P.begin(), ctx.P.end(), [](uint32_t w) { return w == 0; }) &&
         std::all_of(ctx.S.begin(), ctx.S.end(), [](uint32_t w) { return w == 0; });
}

struct Vector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Eric Young's published test vectors, written most significant byte first.
constexpr Vector kVariableKeyVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
};

// The same author's key-length vectors: the first n bytes of one key, so
// they exercise the cycling of short keys (the settings key has 7 bytes).
constexpr const char kKeyLengthKey[] = "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677";
constexpr const char kKeyLengthPlain[] = "FEDCBA9876543210";
constexpr const char* kKeyLengthCiphers[] = {
    "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05",
    "B39E44481BDB1E6E", "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82",
    "15750E7A4F4EC577", "122BA70B3AB64AE0", "3A833C9AFFC537F6", "9409DA87A90F6BF2",
    "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F", "93142887EE3BE15C",
    "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
    "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
};

void ExpectBlock(const std::vector<unsigned char>& key, const std::string& plain,
                 const std::string& cipher) {
  CipherContext ctx{};
  ExpandCipherKey(ctx, key.data(), static_cast<int>(key.size()));
  uint32_t left = Word(plain, 0);
  uint32_t right = Word(plain, 1);
  EncipherBlock(ctx, left, right);
  EXPECT_EQ(left, Word(cipher, 0));
  EXPECT_EQ(right, Word(cipher, 1));
  DecipherBlock(ctx, left, right);
  EXPECT_EQ(left, Word(plain, 0));
  EXPECT_EQ(right, Word(plain, 1));
}

TEST(BlockCipher, PublishedVariableKeyVectors) {
  for (const Vector& v : kVariableKeyVectors) {
    SCOPED_TRACE(std::string("key ") + v.key + " plain " + v.plain);
    ExpectBlock(Bytes(v.key), v.plain, v.cipher);
  }
}

TEST(BlockCipher, PublishedKeyLengthVectors) {
  const std::vector<unsigned char> all = Bytes(kKeyLengthKey);
  for (std::size_t n = 1; n <= std::size(kKeyLengthCiphers); ++n) {
    SCOPED_TRACE("key length " + std::to_string(n));
    ExpectBlock(std::vector<unsigned char>(all.begin(), all.begin() + n), kKeyLengthPlain,
                kKeyLengthCiphers[n - 1]);
  }
}

TEST(HexToBytes, DigitsLowerCaseAndOtherCharacters) {
  struct Case {
    const char* chars;
    std::vector<unsigned char> bytes;
  };
  const Case cases[] = {
      {"00FF7A", {0x00, 0xFF, 0x7A}},
      {"a0", {0x10}},  // 'a' (97) first: 16 * 49 = 0x10 modulo 256, like '1'
      {"0a", {0x31}},  // second: adds 49
      {"ff", {0x96}},  // 16 * 54 + 54 = 918 = 0x396
      {"G1", {0x71}},  // 'G' counts 71 - 48 = 23: 16 * 23 + 1 = 369
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chars);
    std::vector<unsigned char> out(c.bytes.size() + 1, 0xEE);
    HexToBytes(c.chars, static_cast<int>(std::strlen(c.chars)), out.data());
    EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), out.begin()));
    EXPECT_EQ(out.back(), 0xEE);
  }
  unsigned char out[2] = {0xEE, 0xEE};
  HexToBytes("ABC", 3, out);  // the odd last character is ignored
  EXPECT_EQ(out[0], 0xAB);
  EXPECT_EQ(out[1], 0xEE);
  HexToBytes("A", 1, out);
  EXPECT_EQ(out[0], 0xAB);
}

// Decrypts text into a buffer of L + 1 bytes followed by guard bytes, and
// checks that nothing past written is touched and the context is zero again.
std::vector<unsigned char> Decrypt(const std::string& text, const std::string& key,
                                   std::size_t written) {
  constexpr unsigned char kGuard = 0xA5;
  std::vector<char> in(text.begin(), text.end());
  in.push_back('\0');  // exactly L + 1 bytes: a read past the terminator is out of bounds
  std::vector<unsigned char> out(text.size() + 1 + 8, kGuard);
  EXPECT_EQ(DecryptValue(in.data(), reinterpret_cast<char*>(out.data()), key.c_str()), 1);
  EXPECT_TRUE(ContextIsZero());
  EXPECT_EQ(out[written - 1], 0) << "terminator";
  EXPECT_TRUE(std::all_of(out.begin() + static_cast<long>(written), out.end(),
                          [](unsigned char b) { return b == kGuard; }))
      << "written past " << written << " bytes";
  out.resize(written);
  return out;
}

TEST(DecryptValue, HalvesAreReadLeastSignificantByteFirst) {
  // Published vector: key 11..11, plain 0123456789ABCDEF, cipher 7D0CC630AFDA1EC7.
  // Stored, each 32-bit half has its bytes reversed.
  const std::string key(8, '\x11');
  const auto plain = Decrypt("30C60C7DC71EDAAF", key, 9);
  const std::vector<unsigned char> expected = {0x67, 0x45, 0x23, 0x01, 0xEF, 0xCD, 0xAB, 0x89, 0};
  EXPECT_EQ(plain, expected);

  // The vector as written, most significant byte first, is not this format.
  EXPECT_NE(Decrypt("7D0CC630AFDA1EC7", key, 9), expected);
}

TEST(DecryptValue, SettingsKeyGivesKnownValues) {
  // Ciphertexts made with an independent Blowfish implementation.
  struct Case {
    const char* text;
    const char* plain;
    std::size_t bytes;  // deciphered bytes, before the terminator
  };
  const Case cases[] = {
      {"FBAD790448396EAE", "KELDOMAR", 8},
      {"535D53AC2AAC6950", "Geheim!7", 8},
      {"A22B03AF260F746B791EE7EF2474F79C642457A9D2647FFE", "orcl.example:1521/ZEIT", 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    for (int call = 0; call < 2; ++call) {  // no state survives a call
      const auto out = Decrypt(c.text, kCipherKeyText, c.bytes + 1);
      EXPECT_STREQ(reinterpret_cast<const char*>(out.data()), c.plain);
    }
  }
}

TEST(DecryptValue, EmptyAndWholeBlockLengths) {
  EXPECT_EQ(Decrypt("", kCipherKeyText, 1), std::vector<unsigned char>{0});
  EXPECT_EQ(Decrypt("FBAD790448396EAE", kCipherKeyText, 9).size(), 9u);
  const auto two = Decrypt("FBAD790448396EAE535D53AC2AAC6950", kCipherKeyText, 17);
  EXPECT_EQ(std::string(two.begin(), two.end() - 1), "KELDOMARGeheim!7");
}

TEST(DecryptValue, NulInsideThePlainBytesEndsTheValue) {
  const auto out = Decrypt("8E467D7E9E577B53", kCipherKeyText, 9);
  const std::vector<unsigned char> all = {'a', 'b', 0, 'c', 'd', 0, 0, 0, 0};
  EXPECT_EQ(out, all);
  EXPECT_STREQ(reinterpret_cast<const char*>(out.data()), "ab");
}

TEST(DecryptValue, LowerCaseLettersAreTakenByTheirCodes) {
  // "8e467d7e9e577b53" reads as the bytes B5 46 A4 A5 C5 57 A2 53.
  EXPECT_EQ(Decrypt("8e467d7e9e577b53", kCipherKeyText, 9),
            Decrypt("B546A4A5C557A253", kCipherKeyText, 9));
  EXPECT_NE(Decrypt("8e467d7e9e577b53", kCipherKeyText, 9),
            Decrypt("8E467D7E9E577B53", kCipherKeyText, 9));
}

TEST(DecryptValue, AnIncompleteLastGroupIsIgnored) {
  const std::string block = "FBAD790448396EAE";
  for (std::size_t extra = 1; extra < 16; ++extra) {
    SCOPED_TRACE("extra characters: " + std::to_string(extra));
    const auto out = Decrypt(block + std::string(extra, '7'), kCipherKeyText, 9);
    EXPECT_STREQ(reinterpret_cast<const char*>(out.data()), "KELDOMAR");
    EXPECT_EQ(Decrypt(std::string(extra, 'F'), kCipherKeyText, 1), std::vector<unsigned char>{0});
  }
}

TEST(EncryptValue, RoundTripsEveryLengthAndPadsWithNul) {
  for (std::size_t n = 0; n <= 96; ++n) {
    SCOPED_TRACE("length " + std::to_string(n));
    std::string plain;
    for (std::size_t i = 0; i < n; ++i) plain.push_back(static_cast<char>(1 + (i * 37) % 255));
    std::array<char, 201> text{};
    ASSERT_EQ(EncryptValue(plain, text, kCipherKeyText), 1);
    EXPECT_TRUE(ContextIsZero());
    const std::string hex(text.data());
    EXPECT_EQ(hex.size(), EncryptedLength(n));
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    const auto out = Decrypt(hex, kCipherKeyText, hex.size() / 2 + 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data())), plain);
    EXPECT_TRUE(std::all_of(out.begin() + static_cast<long>(n), out.end(),
                            [](unsigned char b) { return b == 0; }));
  }
}

TEST(EncryptValue, MatchesKnownValueAndRefusesSmallOutput) {
  std::array<char, 17> text{};
  ASSERT_EQ(EncryptValue("KELDOMAR", text, kCipherKeyText), 1);
  EXPECT_STREQ(text.data(), "FBAD790448396EAE");

  std::array<char, 16> small;
  small.fill('x');
  EXPECT_EQ(EncryptValue("KELDOMAR", small, kCipherKeyText), 0);
  EXPECT_EQ(small[0], '\0');
  EXPECT_EQ(small[1], 'x');
}

}  // namespace
