// The order of a run: command line, protocol start, login, server date, the
// export file, every pending booking, count, purge, flush, commit, end.
#include "run/RunDriver.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "db/BewRecord.h"
#include "db/DB_Login.h"
#include "db/KortivaneSQL.h"
#include "db/SQLHlp.h"
#include "db/SqlRuntime.h"
#include "run/CommandLine.h"
#include "run/ExitCodes.h"
#include "run/ExportFileGuard.h"
#include "run/ExportLine.h"
#include "run/ProtocolLog.h"

namespace {

constexpr char kStartText[] =
    "\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Protokollierung gestartet:";
constexpr char kEndText[] =
    ">>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Programm beendet\n\n\n";

void PrintUsage() {
  std::fputs("Befehlsformat: \n", stdout);
  std::fputs("Morvask_<DB>.EXE <Velunaris.ini> <ZielPfad>\n", stdout);
  std::fputs("\n", stdout);
  std::fputs("DB           : Datenbanksystem, zB. Oracle\n", stdout);
  std::fputs("Velunaris.ini: Name und Pfad der Velunaris.ini-Datei\n", stdout);
  std::fputs("Zielpfad     : Pfad der Uebergabedatei\n", stdout);
  std::fputs("\n", stdout);
}

// Formats one protocol entry into a fixed buffer and writes it. Every
// caller's arguments are bounded (numbers, the date, a booking ID).
template <typename... Args>
void Protocol(const char* format, Args... args) {
  std::array<char, 256> text{};
  std::snprintf(text.data(), text.size(), format, args...);
  WriteProtocol(ProtocolLogPath(), text.data());
}

}  // namespace

int RunMorvask(int argc, char** argv) {
  CommandLine line;
  if (!ParseCommandLine(argc, argv, line)) {
    PrintUsage();
    return kExitUsage;
  }
  std::string& settings_path = line.settings_path;
  std::string& export_path = line.export_path;
  const bool verbose = line.verbose;

  SetProtocolPaths(kProtocolLogPath, kProtocolBackupPath);
  WriteProtocol(ProtocolLogPath(), kStartText);

  int32_t status = DB_Login(settings_path.c_str());
  if (status != 0) {
    // A negative status cut to an 8-bit exit code could read as success.
    if (status != kExitNoSettings) Protocol("Datenbankverbindung fehlgeschlagen, Fehler: %d", status);
    WriteProtocol(ProtocolLogPath(), "Verbinden mit Datenbank fehlgeschlagen");
    return status == kExitNoSettings ? kExitNoSettings : kExitLoginFailed;
  }

  std::array<char, 20> server_date{};
  status = SQL_GetSysDate(server_date.data());
  Protocol("\xDC" "bergabe vom %s\n", server_date.data());
  if (verbose) std::printf("Uebergabe am %s gestartet\n\n", server_date.data());

  ExportFileGuard export_file;
  switch (OpenExportFile(export_path.c_str(), export_file)) {
    case ExportOpenResult::kOk:
      break;
    case ExportOpenResult::kCannotOpen:
      WriteProtocol(ProtocolLogPath(), "Zieldatei auf Server kann nicht erzeugt werden\n");
      if (verbose) std::fputs("Zieldatei auf Server kann nicht erzeugt werden\n", stdout);
      return kExitNoExportFile;
    case ExportOpenResult::kHeldByOtherRun:
      WriteProtocol(ProtocolLogPath(), "\xDC" "bergabe l\xE4" "uft bereits");
      if (verbose) std::fputs("Uebergabe laeuft bereits\n", stdout);
      return kExitRunning;
  }
  // A killed run may have left half a line; its booking was never committed
  // as transferred, so this run writes it again whole.
  if (const int64_t cut = CutIncompleteLastLine(export_file); cut > 0) {
    Protocol("Unvollst\xE4ndige letzte Zeile der Zieldatei entfernt (%d Bytes)",
             static_cast<int>(cut));
  }

  int32_t counter = 0;
  bool lines_failed = false;
  bool read_failed = false;
  BewRecord booking;

  status = SQL_OpenBew();
  if (status == 0) status = SQL_FetchBew(booking);
  while (status == 0) {
    if (TransferBooking(booking, export_path.c_str(), verbose, counter) ==
        TransferResult::kWriteFailed) {
      lines_failed = true;  // left unmarked: the next run hands it over
    } else {
      status = SQL_MarkTranfer(booking);
      if (status != 0) {
        if (verbose) std::printf("\nFehler 'SQL_MarkTranfer: %d\n", status);
        Protocol("Fehler 'SQL_MarkTranfer: %d, ID: %s", status, booking.BewIDN.data());
      }
    }
    status = SQL_FetchBew(booking);
  }
  if (status != kSqlNotFound) {
    read_failed = true;
    Protocol("Fehler beim Lesen der Buchungen: %d", status);
  }

  status = SQL_CloseBew();
  Protocol("\nAnzahl \xFC" "bergebener Buchungen : %d", counter);
  if (verbose) std::printf("\nAnzahl uebergebener Buchungen : %d", counter);

  status = SQL_DeleteOld();
  if (status != 0) Protocol("L\xF6schen alter Buchungen fehlgeschlagen, Fehler: %d", status);

  // The lines must be on disk before the marks that say they were handed over.
  if (!FlushExportFile(export_file, export_path.c_str())) {
    WriteProtocol(ProtocolLogPath(),
                  "Zieldatei konnte nicht gesichert werden, keine \xDC" "bernahme in die Datenbank");
    status = 0;
  } else {
    status = SQL_Commit();
    if (status == 0) Protocol("Commit fehlgeschlagen, Fehler: %d", sqlca.sqlcode);
  }

  export_path.clear();
  settings_path.clear();
  WriteProtocol(ProtocolLogPath(), kEndText);

  if (status == 0) return kExitCommitFailed;
  if (lines_failed) return kExitLinesFailed;
  if (read_failed) return kExitReadFailed;
  return kExitDone;
}
