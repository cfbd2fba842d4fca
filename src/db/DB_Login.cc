#include "db/DB_Login.h"

#include <string.h>  // explicit_bzero

#include <algorithm>
#include <array>
#include <cstdio>

#include "db/SQLHlp.h"
#include "run/ProtocolLog.h"
#include "settings/IniFile.h"

namespace {

constexpr char kSchemaName[] = "KELDOMAR";
constexpr char kSettingsMissing[] = "Velunaris.Ini-Datei nicht gefunden";
constexpr size_t kMaxServiceLength = 40;

bool CanOpenForReading(const char* path) {
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

// Copies the looked-up value, cut to the buffer, and wipes it from iniEntry.
template <size_t N>
void TakeValue(std::array<char, N>& to) {
  size_t length = strnlen(iniEntry.value.data(), iniEntry.value.size());
  if (length >= N) length = N - 1;
  std::copy_n(iniEntry.value.data(), length, to.data());
  to[length] = '\0';
  explicit_bzero(iniEntry.value.data(), iniEntry.value.size());
}

}  // namespace

int32_t DB_Login(const char* settings_path) {
  std::array<char, 200> user{};
  std::array<char, 200> password{};
  std::array<char, 41> service{};

  if (!CanOpenForReading(settings_path)) {
    WriteProtocol(ProtocolLogPath(), kSettingsMissing);
    std::fputs(kSettingsMissing, stdout);
    std::fflush(stdout);
    return 97;
  }

  GetIniValue("", "LOGIN", 0, settings_path);
  TakeValue(user);
  GetIniValue("", "PASS", 0, settings_path);
  TakeValue(password);
  GetIniValue("", "NET8", 0, settings_path);
  // A service name that does not fit is left out whole, never cut.
  if (strnlen(iniEntry.value.data(), iniEntry.value.size()) <= kMaxServiceLength) {
    TakeValue(service);
  }
  explicit_bzero(iniEntry.value.data(), iniEntry.value.size());

  int32_t result = SQL_Connect(user.data(), password.data(), service.data(), kSchemaName);
  explicit_bzero(user.data(), user.size());
  explicit_bzero(password.data(), password.size());
  explicit_bzero(service.data(), service.size());

  if (result != 0) {
    std::printf("Datenbankverbindung fehlgeschlagen, Fehler: %d\n", result);
    std::fflush(stdout);
  }
  return result;
}
