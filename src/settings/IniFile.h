// The settings file: two-line records with ';'-separated fields, values stored
// as Blowfish ciphertext in hexadecimal text.
#pragma once

#include <array>
#include <cstdint>

struct IniEntry {
  int32_t number;
  std::array<char, 201> section;
  std::array<char, 201> key;
  std::array<char, 201> value;  // decrypted after a successful lookup
};

// The one result record of the lookup, owned by this module. Every
// GetIniValue clears it first and leaves its outcome in it.
extern IniEntry iniEntry;

// Leaves the first record selected by section, key or number (one selector is
// enough) in iniEntry with its value decrypted, or clears iniEntry.
void GetIniValue(const char* section, const char* key, int32_t number, const char* path);
