// velunaris-ini: the operator's tool for the batch's settings file. It writes
// values in the cipher text the batch decrypts, and reads and checks them with
// the batch's own lookup code.
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string.h>  // explicit_bzero
#include <string_view>
#include <vector>

#include "Prompt.h"
#include "SettingsFile.h"
#include "settings/Cipher.h"
#include "settings/IniFile.h"
#include "settings/IniRecord.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFaults = 1;     // check found faults; get found no record
constexpr int kExitUsage = 2;      // wrong arguments or an unusable value
constexpr int kExitFile = 3;       // the file cannot be read or written

// Whole blocks whose text still fits a value field of 200 characters.
constexpr std::size_t kMaxPlainBytes = kIniFieldChars / 16 * 8;
constexpr std::size_t kMaxServiceName = 40;
constexpr std::array<std::string_view, 3> kBatchKeys = {"LOGIN", "PASS", "NET8"};

const char kUsage[] =
    "Aufruf:\n"
    "  velunaris-ini encrypt WERT          gibt WERT verschluesselt aus (Hex-Text)\n"
    "  velunaris-ini set DATEI SCHLUESSEL [WERT]\n"
    "                                      setzt den Datensatz fuer SCHLUESSEL; ohne WERT\n"
    "                                      wird er ohne Echo am Terminal abgefragt\n"
    "  velunaris-ini get DATEI SCHLUESSEL  gibt den entschluesselten Wert aus, den das\n"
    "                                      Programm fuer SCHLUESSEL liest\n"
    "  velunaris-ini check DATEI           prueft die Datensaetze fuer LOGIN, PASS und NET8\n"
    "Rueckgabewerte: 0 in Ordnung, 1 Pruefung fehlgeschlagen oder Schluessel fehlt,\n"
    "  2 falscher Aufruf oder ungueltiger Wert, 3 Datei nicht les- oder schreibbar.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "velunaris-ini: %s\n", message.c_str());
  return code;
}

// Wipes a string that held a secret before it is released.
struct SecretString {
  std::string text;
  ~SecretString() { explicit_bzero(text.data(), text.size()); }
};

std::optional<std::string> ValueProblem(std::string_view key, std::string_view value) {
  if (value.find('\0') != std::string_view::npos) return "Der Wert darf kein NUL-Zeichen enthalten";
  if (value.size() > kMaxPlainBytes) {
    return "Der Wert ist zu lang: hoechstens " + std::to_string(kMaxPlainBytes) + " Zeichen";
  }
  if (key == "NET8" && value.size() > kMaxServiceName) {
    return "Der Dienstname (NET8) ist zu lang: hoechstens " + std::to_string(kMaxServiceName) +
           " Zeichen";
  }
  return std::nullopt;
}

std::optional<std::string> KeyProblem(std::string_view key) {
  if (key.empty()) return "Der Schluessel darf nicht leer sein";
  if (key.size() > kIniFieldChars) return "Der Schluessel ist laenger als 200 Zeichen";
  if (key.find_first_of(";\r\n") != std::string_view::npos) {
    return "Der Schluessel darf weder ';' noch Zeilenumbrueche enthalten";
  }
  return std::nullopt;
}

std::string Encrypt(std::string_view plain) {
  std::array<char, kIniFieldChars + 1> text{};
  EncryptValue(plain, text, kCipherKeyText);
  return std::string(text.data());
}

// The plain bytes of a value as the batch deciphers them, padding included.
std::string DecryptAll(std::string_view hex) {
  const std::string text(hex);
  std::vector<char> plain(text.size() + 1);
  DecryptValue(text.c_str(), plain.data(), kCipherKeyText);
  std::string result(plain.data(), text.size() / 16 * 8);
  explicit_bzero(plain.data(), plain.size());
  return result;
}

std::optional<std::string> HexProblem(std::string_view value) {
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) continue;
    const std::string where = "Zeichen " + std::to_string(i + 1);
    if (c >= 'a' && c <= 'f') return where + " ist ein Kleinbuchstabe; erlaubt sind 0-9 und A-F";
    return where + " ist keine Hex-Ziffer; erlaubt sind 0-9 und A-F";
  }
  if (value.size() % 16 != 0) {
    return "Laenge " + std::to_string(value.size()) +
           " ist kein Vielfaches von 16: der letzte Block ist unvollstaendig";
  }
  return std::nullopt;
}

std::string Describe(const IniRecordFields& fields) {
  std::string text = "Abschnitt \"" + std::string(fields.section) + "\", ";
  text += fields.hasNumber ? "Nummer " + std::to_string(fields.number) : "ohne Nummer";
  return text + ", Schluessel \"" + std::string(fields.key) + "\"";
}

// ---- set ----------------------------------------------------------------

int32_t NumberFor(std::string_view key, const ParsedSettings& parsed, std::optional<std::size_t> own) {
  if (own) {
    const IniRecordFields& fields = parsed.file().records[*own].fields;
    if (fields.withinLimits && fields.hasNumber && fields.number != 0) return fields.number;
  }
  for (std::size_t i = 0; i < kBatchKeys.size(); ++i) {
    if (key == kBatchKeys[i]) return static_cast<int32_t>(i + 1);
  }
  int32_t highest = static_cast<int32_t>(kBatchKeys.size());
  for (const SettingsRecord& record : parsed.file().records) {
    if (record.fields.withinLimits && record.fields.number > highest) highest = record.fields.number;
  }
  return highest < INT32_MAX ? highest + 1 : 1;
}

bool SameFields(const IniRecordFields& a, const IniRecordFields& b) {
  return a.section == b.section && a.key == b.key && a.value == b.value && a.number == b.number &&
         a.hasNumber == b.hasNumber && a.withinLimits == b.withinLimits;
}

// Whether after holds the records of before, with the record at index changed
// to the expected one (or added at the end), and nothing else changed.
bool OnlyRecordChanged(const ParsedSettings& before, const ParsedSettings& after, std::size_t index,
                       const IniRecordFields& expected) {
  const auto& old = before.file().records;
  const auto& now = after.file().records;
  const bool added = index == old.size();
  if (now.size() != old.size() + (added ? 1 : 0)) return false;
  if (before.file().orphanLine != after.file().orphanLine) return false;
  for (std::size_t i = 0; i < now.size(); ++i) {
    if (i == index) {
      if (!SameFields(now[i].fields, expected)) return false;
    } else if (!SameFields(now[i].fields, old[i].fields)) {
      return false;
    }
  }
  return true;
}

int Set(const std::string& path, std::string_view key, const char* valueArg) {
  if (auto problem = KeyProblem(key)) return Fail(kExitUsage, *problem);

  SecretString value;
  if (valueArg != nullptr) {
    value.text = valueArg;
  } else {
    std::string error;
    SecretString again;
    const std::string prompt = "Wert fuer " + std::string(key) + ": ";
    if (!ReadHidden(prompt.c_str(), kMaxPlainBytes, value.text, error)) return Fail(kExitUsage, error);
    if (!ReadHidden("Wert wiederholen: ", kMaxPlainBytes, again.text, error)) return Fail(kExitUsage, error);
    if (value.text != again.text) return Fail(kExitUsage, "Die beiden Eingaben stimmen nicht ueberein");
  }
  if (auto problem = ValueProblem(key, value.text)) return Fail(kExitUsage, *problem);

  std::string bytes;
  std::string error;
  if (ReadSettingsFile(path, bytes, error) == ReadResult::kFailed) return Fail(kExitFile, error);
  const ParsedSettings before(bytes);
  const SettingsFile& file = before.file();
  const std::optional<std::size_t> own = before.Owning(key);
  if (!own && file.orphanLine) {
    return Fail(kExitFile,
                "Die letzte Zeile von '" + path +
                    "' hat keine zweite Zeile; ein angehaengter Datensatz wuerde falsch gepaart. "
                    "Bitte die Datei zuerst berichtigen.");
  }

  // Line ends follow the replaced record, else the file's first line.
  bool crlf = false;
  if (own) {
    crlf = file.lines[file.records[*own].firstLine + 1].crlf;
  } else if (!file.lines.empty()) {
    crlf = file.lines.front().crlf;
  }
  const std::string eol = crlf ? "\r\n" : "\n";
  const int32_t number = NumberFor(key, before, own);
  const std::string hex = Encrypt(value.text);
  const std::string firstLine = ";DB;";
  const std::string secondLine = std::to_string(number) + ";" + std::string(key) + ";" + hex;
  if (secondLine.size() + 1 > kIniSecondLineChars) {
    return Fail(kExitUsage, "Schluessel und Wert ergeben eine zu lange Zeile");
  }
  const std::string record = firstLine + eol + secondLine + eol;

  std::string updated;
  std::size_t index = file.records.size();
  if (own) {
    index = *own;
    const SettingsRecord& old = file.records[*own];
    updated = bytes.substr(0, file.lines[old.firstLine].begin) + record +
              bytes.substr(file.lines[old.firstLine + 1].end);
  } else {
    updated = bytes;
    if (!updated.empty() && updated.back() != '\n') updated += eol;
    updated += record;
  }

  const ParsedSettings after(updated);
  IniRecordFields expected;
  expected.section = "DB";
  expected.key = key;
  expected.value = hex;
  expected.number = number;
  expected.hasNumber = true;
  if (!OnlyRecordChanged(before, after, index, expected)) {
    return Fail(kExitFile, "Die Datei '" + path +
                               "' laesst sich nicht aendern, ohne andere Datensaetze zu verschieben; "
                               "bitte von Hand berichtigen (velunaris-ini check zeigt den Aufbau).");
  }
  if (!ReplaceSettingsFile(path, updated, error)) return Fail(kExitFile, error);

  std::printf("%s: Datensatz %s %s.\n", std::string(key).c_str(), own ? "ersetzt in" : "angefuegt als",
              after.LinesOf(index).c_str());
  const std::optional<std::size_t> answering = after.Answering(key);
  if (answering && *answering != index) {
    std::fprintf(stderr,
                 "velunaris-ini: Warnung: das Programm liest %s dennoch aus dem frueheren Datensatz %s "
                 "(%s), der ihn verdeckt.\n",
                 std::string(key).c_str(), after.LinesOf(*answering).c_str(),
                 Describe(after.file().records[*answering].fields).c_str());
  }
  return kExitOk;
}

// ---- get ----------------------------------------------------------------

int Get(const std::string& path, std::string_view key) {
  std::string bytes;
  std::string error;
  const ReadResult read = ReadSettingsFile(path, bytes, error);
  if (read == ReadResult::kMissing) return Fail(kExitFile, "Datei nicht gefunden: '" + path + "'");
  if (read == ReadResult::kFailed) return Fail(kExitFile, error);
  const ParsedSettings parsed(std::move(bytes));
  const std::optional<std::size_t> answering = parsed.Answering(key);
  if (!answering) {
    return Fail(kExitFaults, "Kein Datensatz liefert " + std::string(key) + " in '" + path + "'");
  }
  if (answering != parsed.Owning(key)) {
    std::fprintf(stderr, "velunaris-ini: Hinweis: der Wert stammt aus Datensatz %s (%s).\n",
                 parsed.LinesOf(*answering).c_str(),
                 Describe(parsed.file().records[*answering].fields).c_str());
  }

  const std::string wanted(key);
  GetIniValue("", wanted.c_str(), 0, path.c_str());
  const char* value = iniEntry.value.data();
  std::fwrite(value, 1, std::strlen(value), stdout);
  std::fputc('\n', stdout);
  explicit_bzero(iniEntry.value.data(), iniEntry.value.size());
  return kExitOk;
}

// ---- check --------------------------------------------------------------

bool CheckKey(const ParsedSettings& parsed, std::string_view key) {
  const auto& records = parsed.file().records;
  const std::optional<std::size_t> answering = parsed.Answering(key);
  const std::optional<std::size_t> own = parsed.Owning(key);
  std::vector<std::string> faults;
  std::vector<std::string> notes;

  std::printf("%s\n", std::string(key).c_str());
  if (own && !records[*own].fields.withinLimits) {
    faults.push_back("Der Datensatz fuer " + std::string(key) + " in " + parsed.LinesOf(*own) +
                     " wird uebergangen: ein Feld ist zu lang oder die Nummer ungueltig.");
  }
  if (!answering) {
    faults.push_back("Kein Datensatz liefert " + std::string(key) + ".");
  } else {
    const IniRecordFields& fields = records[*answering].fields;
    std::printf("  liefert: Datensatz %s (%s)\n", parsed.LinesOf(*answering).c_str(),
                Describe(fields).c_str());
    if (fields.key != key) {
      std::string why;
      if (fields.section.empty()) why = "leerer Abschnitt";
      if (fields.hasNumber && fields.number == 0) why += why.empty() ? "Nummer 0" : ", Nummer 0";
      std::string fault = "Dieser Datensatz (" + why + ") verdeckt ";
      fault += own ? "den Datensatz fuer " + std::string(key) + " in " + parsed.LinesOf(*own) + "."
                   : "einen fehlenden Datensatz fuer " + std::string(key) + ".";
      faults.push_back(fault);
    }
    if (auto problem = HexProblem(fields.value)) {
      faults.push_back("Wert nicht wohlgeformt: " + *problem + ".");
    } else {
      const std::size_t blocks = fields.value.size() / 16;
      std::printf("  Wert: %zu Hex-Zeichen, %zu %s, wohlgeformt\n", fields.value.size(), blocks,
                  blocks == 1 ? "ganzer Block" : "ganze Bloecke");
    }
    SecretString plain{DecryptAll(fields.value)};
    const std::size_t length = std::strlen(plain.text.c_str());
    if (plain.text.find_first_not_of('\0', length) != std::string::npos) {
      notes.push_back("Nach dem Ende des Werts folgen Fuellbytes ungleich 0: "
                      "falscher Schluessel oder beschaedigter Wert?");
    }
    if (length == 0) notes.push_back("Der entschluesselte Wert ist leer.");
    if (key == "NET8") {
      if (length > kMaxServiceName) {
        faults.push_back("Der Dienstname hat " + std::to_string(length) +
                         " Zeichen, erlaubt sind hoechstens 40.");
      } else {
        std::printf("  Dienstname: \"%s\" (%zu von hoechstens 40 Zeichen)\n", plain.text.c_str(), length);
      }
    }
  }
  for (const std::string& note : notes) std::printf("  Hinweis: %s\n", note.c_str());
  for (const std::string& fault : faults) std::printf("  FEHLER: %s\n", fault.c_str());
  std::printf("  Ergebnis: %s\n", faults.empty() ? "in Ordnung" : "fehlerhaft");
  return faults.empty();
}

int Check(const std::string& path) {
  std::string bytes;
  std::string error;
  const ReadResult read = ReadSettingsFile(path, bytes, error);
  if (read == ReadResult::kMissing) return Fail(kExitFile, "Datei nicht gefunden: '" + path + "'");
  if (read == ReadResult::kFailed) return Fail(kExitFile, error);
  const ParsedSettings parsed(std::move(bytes));

  std::printf("Pruefe %s: %zu Zeilen, %zu Datensaetze\n", path.c_str(), parsed.file().lines.size(),
              parsed.file().records.size());
  if (parsed.file().orphanLine) {
    std::printf("Hinweis: die letzte Zeile hat keine zweite Zeile und wird nicht gelesen.\n");
  }
  bool sound = true;
  for (std::string_view key : kBatchKeys) sound = CheckKey(parsed, key) && sound;
  std::printf("%s\n", sound ? "Alle drei Eintraege sind in Ordnung." : "Die Datei ist fehlerhaft.");
  return sound ? kExitOk : kExitFaults;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string_view command = argv[1];
  if (command == "encrypt" && argc == 3) {
    const std::string_view value = argv[2];
    if (auto problem = ValueProblem("", value)) return Fail(kExitUsage, *problem);
    std::printf("%s\n", Encrypt(value).c_str());
    return kExitOk;
  }
  if (command == "set" && (argc == 4 || argc == 5)) return Set(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
  if (command == "get" && argc == 4) return Get(argv[2], argv[3]);
  if (command == "check" && argc == 3) return Check(argv[2]);
  std::fprintf(stderr, "velunaris-ini: unbekannter Befehl oder falsche Zahl von Argumenten\n");
  return Usage();
}
