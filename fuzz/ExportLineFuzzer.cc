// The export line of one booking, through TransferBooking into a real export
// file. Input: a flags byte (bit 0 the verbose switch, bit 1 an export path
// whose folder is missing), then per field of the record, in its memory
// order, a length byte n and n bytes. A field gets its first n bytes, NUL
// after them; with n at or beyond the buffer's size it has no terminator.
// Properties: no byte around the record or in a field but BewEra changes;
// BewEra holds the code of the decision table; a handed-over booking's line
// is its 17 field values joined by commas followed by one line feed (the
// only one where no value holds a line feed), its protocol and console lines
// match, and it is counted; a filtered booking leaves no trace and no count;
// a line that cannot be written is reported and not counted.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "db/BewRecord.h"
#include "run/ExportLine.h"
#include "run/ProtocolLog.h"

namespace {

struct Files {
  std::string folder, export_path, missing_export_path, log, backup, console;
};

const Files& TheFiles() {
  static const Files files = [] {
    Files f;
    f.folder = MakeScratchFolder("morvask-fuzz-export");
    f.export_path = f.folder + "/BEWDATA.dat";
    f.missing_export_path = f.folder + "/missing/BEWDATA.dat";
    f.log = f.folder + "/log.txt";
    f.backup = f.folder + "/log_bak.txt";
    f.console = f.folder + "/console.txt";
    // Standard output goes to a file so that the console line can be checked.
    const int fd = ::open(f.console.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0) std::abort();
    ::close(fd);
    SetProtocolPaths(f.log.c_str(), f.backup.c_str());
    return f;
  }();
  return files;
}

// The record with guard bytes on both sides (its fields are char arrays:
// no padding lies between them).
struct GuardedBooking {
  std::array<unsigned char, 64> before;
  BewRecord booking;
  std::array<unsigned char, 64> after;
};
static_assert(sizeof(GuardedBooking) == 128 + sizeof(BewRecord));

constexpr unsigned char kGuardByte = 0x5A;

template <size_t N>
std::string Text(const std::array<char, N>& field) {
  const void* nul = std::memchr(field.data(), '\0', N - 1);
  const size_t length = nul ? static_cast<const char*>(nul) - field.data() : N - 1;
  return std::string(field.data(), length);
}

// The code table, written out once more as the operator reads it.
std::string ExpectedEra(const BewRecord& b) {
  std::string key = Text(b.BewSrc);
  for (char& c : key) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  const std::string era = Text(b.BewEra);
  auto in = [&era](std::initializer_list<std::string_view> set) {
    return std::find(set.begin(), set.end(), era) != set.end();
  };
  if (key == "DTA") {
    if (in({"200", "201", "202", "203", "206", "207", "208", "210"})) return "204";
    if (in({"430", "431", "500", "501"})) return "426";
    return era;
  }
  if (key == "40P") return !Text(b.BewKze).empty() || Text(b.BewBer) == "1" ? "100" : "204";
  if (key == "50P") return "100";
  if (key == "62P") return era;
  return "204";
}

bool IsHandedOver(std::string_view era) {
  for (std::string_view code : {"100", "204", "426", "0", "1", "4", "5", "6", "7", "8", "9"}) {
    if (era == code) return true;
  }
  return false;
}

template <size_t N>
void Fill(std::array<char, N>& field, std::string_view& input) {
  field.fill('\0');
  if (input.empty()) return;
  const size_t n = static_cast<unsigned char>(input[0]);
  input.remove_prefix(1);
  const size_t taken = std::min(n, input.size());
  std::memcpy(field.data(), input.data(), std::min(taken, N));
  input.remove_prefix(taken);
}

void Truncate(const std::string& path) { ::unlink(path.c_str()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Files& files = TheFiles();
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const unsigned char flags = input.empty() ? 0 : static_cast<unsigned char>(input[0]);
  if (!input.empty()) input.remove_prefix(1);
  const bool verbose = flags & 1;
  const bool unwritable = flags & 2;

  GuardedBooking g;
  g.before.fill(kGuardByte);
  g.after.fill(kGuardByte);
  BewRecord& b = g.booking;
  Fill(b.BewTID, input); Fill(b.BewLID, input); Fill(b.BewIDN, input); Fill(b.BewSto, input);
  Fill(b.BewDtm, input); Fill(b.BewUhr, input); Fill(b.BewLfn, input); Fill(b.BewArt, input);
  Fill(b.BewTas, input); Fill(b.BewEra, input); Fill(b.BewKze, input); Fill(b.BewBer, input);
  Fill(b.BewErq, input); Fill(b.BewKst, input); Fill(b.BewQua, input); Fill(b.BewRes, input);
  Fill(b.BewSrc, input);
  const BewRecord original = b;
  const std::string era = ExpectedEra(original);

  Truncate(files.export_path);
  Truncate(files.log);
  std::fflush(stdout);
  if (::ftruncate(STDOUT_FILENO, 0) != 0 || ::lseek(STDOUT_FILENO, 0, SEEK_SET) != 0) std::abort();

  int32_t counter = 41;
  const TransferResult result =
      TransferBooking(b, unwritable ? files.missing_export_path.c_str() : files.export_path.c_str(),
                      verbose, counter);
  std::fflush(stdout);

  FUZZ_CHECK(std::all_of(g.before.begin(), g.before.end(), [](unsigned char c) { return c == kGuardByte; }));
  FUZZ_CHECK(std::all_of(g.after.begin(), g.after.end(), [](unsigned char c) { return c == kGuardByte; }));
  BewRecord others = b;
  others.BewEra = original.BewEra;
  FUZZ_CHECK(std::memcmp(&others, &original, sizeof original) == 0);
  // A rewritten code ends with its terminator, also where the same text
  // stood in the field without one.
  FUZZ_CHECK(Text(b.BewEra) == era);
  if (b.BewEra != original.BewEra) FUZZ_CHECK(b.BewEra[era.size()] == '\0');

  const std::string exported = ReadWholeFile(files.export_path);
  const std::string protocol = ReadWholeFile(files.log);
  const std::string console = ReadWholeFile(files.console);
  if (!IsHandedOver(era)) {
    FUZZ_CHECK(result == TransferResult::kFiltered);
    FUZZ_CHECK(counter == 41);
    FUZZ_CHECK(exported.empty() && protocol.empty() && console.empty());
    return 0;
  }

  const std::string idn = Text(b.BewIDN);
  if (unwritable) {
    FUZZ_CHECK(result == TransferResult::kWriteFailed);
    FUZZ_CHECK(counter == 41);
    FUZZ_CHECK(protocol == "Buchung " + idn + " konnte nicht in die Zieldatei geschrieben werden\n");
    FUZZ_CHECK(console.empty());
    return 0;
  }

  const std::string dtm = Text(b.BewDtm);
  const std::string uhr = Text(b.BewUhr);
  const std::string date = dtm.substr(0, 8);
  const std::string time = uhr.size() > 8 ? uhr.substr(8, 6) : "";
  const std::string values[17] = {
      idn,           Text(b.BewSto), date,           time,           Text(b.BewLfn),
      Text(b.BewTID), Text(b.BewLID), Text(b.BewArt), Text(b.BewKst), Text(b.BewQua),
      Text(b.BewKze), Text(b.BewBer), era,            Text(b.BewErq), Text(b.BewTas),
      Text(b.BewSrc), Text(b.BewRes)};
  std::string line;
  bool value_has_line_feed = false;
  for (size_t i = 0; i < 17; ++i) {
    if (i > 0) line += ',';
    line += values[i];
    value_has_line_feed = value_has_line_feed || values[i].find('\n') != std::string::npos;
  }
  line += '\n';

  FUZZ_CHECK(result == TransferResult::kExported);
  FUZZ_CHECK(counter == 42);
  FUZZ_CHECK(exported == line);
  FUZZ_CHECK(exported.size() <= kExportLineMax + 1);
  if (!value_has_line_feed) FUZZ_CHECK(std::count(exported.begin(), exported.end(), '\n') == 1);
  FUZZ_CHECK(protocol == idn + "," + date + "," + time + "," + Text(b.BewTID) + "," +
                             Text(b.BewLID) + "," + Text(b.BewArt) + ", " + Text(b.BewLfn) +
                             ", " + Text(b.BewSrc) + "\n");
  FUZZ_CHECK(console ==
             (verbose ? "ID: " + idn + ", Buchung vom " + date + " " + time + "  uebergeben\n" : ""));
  return 0;
}
