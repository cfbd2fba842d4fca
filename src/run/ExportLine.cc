#include "run/ExportLine.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "run/FileDescriptor.h"
#include "run/ProtocolLog.h"

namespace {

// A field's text. A field that lost its terminator still ends inside its buffer.
template <size_t N>
std::string_view Text(const std::array<char, N>& field) {
  return {field.data(), ::strnlen(field.data(), N - 1)};
}

template <size_t N>
void Assign(std::array<char, N>& field, std::string_view value) {
  size_t n = std::min(value.size(), N - 1);
  std::memcpy(field.data(), value.data(), n);
  field[n] = '\0';
}

// A line formed in place: at most Capacity characters plus a terminator.
// The capacities below are the longest lines the record can give, so
// nothing is ever cut; should that change, the line is cut, never overrun.
template <size_t Capacity>
class LineBuffer {
 public:
  LineBuffer& operator<<(std::string_view part) {
    // copy_n, not memcpy: an empty view may carry a null pointer, which
    // memcpy must not be given even for no bytes.
    size_t n = std::min(part.size(), Capacity - size_);
    std::copy_n(part.data(), n, chars_.data() + size_);
    size_ += n;
    chars_[size_] = '\0';
    return *this;
  }
  std::string_view view() const { return {chars_.data(), size_}; }
  const char* c_str() const { return chars_.data(); }

 private:
  std::array<char, Capacity + 1> chars_{};
  size_t size_ = 0;
};

constexpr std::string_view kWriteFailedBefore = "Buchung ";
constexpr std::string_view kWriteFailedAfter =
    " konnte nicht in die Zieldatei geschrieben werden";
constexpr size_t kWriteFailedMax =
    kWriteFailedBefore.size() + kFieldWidth<&BewRecord::BewIDN> + kWriteFailedAfter.size();

constexpr std::string_view kConsoleId = "ID: ";
constexpr std::string_view kConsoleDate = ", Buchung vom ";
constexpr std::string_view kConsoleEnd = "  uebergeben\n";
constexpr size_t kConsoleLineMax = kConsoleId.size() + kFieldWidth<&BewRecord::BewIDN> +
                                   kConsoleDate.size() + kBookingDateWidth + 1 +
                                   kBookingTimeWidth + kConsoleEnd.size();

constexpr std::array<std::string_view, 8> kDtaCodesTo204 = {"200", "201", "202", "203",
                                                            "206", "207", "208", "210"};
constexpr std::array<std::string_view, 4> kDtaCodesTo426 = {"430", "431", "500", "501"};
constexpr std::array<std::string_view, 11> kExportedCodes = {"100", "204", "426", "0", "1", "4",
                                                             "5",   "6",   "7",   "8", "9"};

template <size_t N>
bool IsOneOf(std::string_view value, const std::array<std::string_view, N>& set) {
  return std::find(set.begin(), set.end(), value) != set.end();
}

bool IsExported(std::string_view era) { return IsOneOf(era, kExportedCodes); }

// yyyymmdd: the first 8 characters of BewDtm, fewer when it is shorter.
std::string_view BookingDate(const BewRecord& booking) {
  return Text(booking.BewDtm).substr(0, kBookingDateWidth);
}

// hhmmss: characters 9 to 14 of BewUhr; its date part is never used.
std::string_view BookingTime(const BewRecord& booking) {
  std::string_view uhr = Text(booking.BewUhr);
  if (uhr.size() <= kBookingDateWidth) return {};
  return uhr.substr(kBookingDateWidth, kBookingTimeWidth);
}

}  // namespace

char* UpperCaseInPlace(char* text) {
  if (text == nullptr) return text;
  for (size_t i = 0; text[i] != '\0'; ++i) {
    if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 'a' + 'A');
  }
  return text;
}

void NormaliseBewEra(BewRecord& booking, const char* source_key) {
  std::string_view key = source_key != nullptr ? source_key : "";
  std::string_view era = Text(booking.BewEra);
  if (key == "DTA") {
    if (IsOneOf(era, kDtaCodesTo204)) {
      Assign(booking.BewEra, "204");
    } else if (IsOneOf(era, kDtaCodesTo426)) {
      Assign(booking.BewEra, "426");
    }
  } else if (key == "40P") {
    bool present = !Text(booking.BewKze).empty() || Text(booking.BewBer) == "1";
    Assign(booking.BewEra, present ? "100" : "204");
  } else if (key == "50P") {
    Assign(booking.BewEra, "100");
  } else if (key != "62P") {
    Assign(booking.BewEra, "204");
  }
}

bool IsExportedEra(const char* era) { return era != nullptr && IsExported(era); }

bool AppendExportLine(const char* path, std::string_view line) {
  if (path == nullptr) return false;
  FileDescriptor file(::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
  if (!file.valid()) return false;

  size_t written = 0;
  while (written < line.size()) {
    ssize_t n = ::write(file.get(), line.data() + written, line.size() - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // The line stopped part-way (disk full, file size limit). Appending left
    // the offset right after this call's bytes, so cutting them off again
    // needs no size taken before the write: the file keeps whole lines only.
    if (written > 0) {
      off_t end = ::lseek(file.get(), 0, SEEK_CUR);
      if (end >= static_cast<off_t>(written)) {
        [[maybe_unused]] int cut = ::ftruncate(file.get(), end - static_cast<off_t>(written));
      }
    }
    return false;
  }
  return file.Close();
}

TransferResult TransferBooking(BewRecord& booking, const char* export_path, bool verbose,
                               int32_t& counter) {
  std::array<char, kFieldWidth<&BewRecord::BewSrc> + 1> source_key{};
  Assign(source_key, Text(booking.BewSrc));
  UpperCaseInPlace(source_key.data());

  NormaliseBewEra(booking, source_key.data());
  if (!IsExported(Text(booking.BewEra))) return TransferResult::kFiltered;

  const std::string_view date = BookingDate(booking);
  const std::string_view time = BookingTime(booking);
  const std::string_view idn = Text(booking.BewIDN);

  LineBuffer<kExportLineMax + 1> line;
  line << idn << "," << Text(booking.BewSto) << "," << date << "," << time << ","
       << Text(booking.BewLfn) << "," << Text(booking.BewTID) << "," << Text(booking.BewLID)
       << "," << Text(booking.BewArt) << "," << Text(booking.BewKst) << ","
       << Text(booking.BewQua) << "," << Text(booking.BewKze) << "," << Text(booking.BewBer)
       << "," << Text(booking.BewEra) << "," << Text(booking.BewErq) << ","
       << Text(booking.BewTas) << "," << Text(booking.BewSrc) << "," << Text(booking.BewRes)
       << "\n";

  // A booking whose line is not in the file must stay pending: it is neither
  // counted nor logged as handed over, and the caller leaves it unmarked.
  if (!AppendExportLine(export_path, line.view())) {
    LineBuffer<kWriteFailedMax> failed;
    failed << kWriteFailedBefore << idn << kWriteFailedAfter;
    WriteProtocol(ProtocolLogPath(), failed.c_str());
    return TransferResult::kWriteFailed;
  }
  ++counter;

  LineBuffer<kProtocolLineMax> entry;
  entry << idn << "," << date << "," << time << "," << Text(booking.BewTID) << ","
        << Text(booking.BewLID) << "," << Text(booking.BewArt) << ", " << Text(booking.BewLfn)
        << ", " << Text(booking.BewSrc);
  WriteProtocol(ProtocolLogPath(), entry.c_str());

  if (verbose) {
    LineBuffer<kConsoleLineMax> console;
    console << kConsoleId << idn << kConsoleDate << date << " " << time << kConsoleEnd;
    std::fwrite(console.view().data(), 1, console.view().size(), stdout);
  }
  return TransferResult::kExported;
}
