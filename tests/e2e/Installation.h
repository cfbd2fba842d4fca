// A test installation laid out as the program expects it: the run folder
// (the working directory, holding the settings file and, for SQLite, the
// database), the protocol folder at ../../Velunaris_php/log beside it, and
// a target folder for the export file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Process.h"
#include "TestDatabase.h"

// One booking row; kNull leaves a column NULL.
struct Booking {
  std::string idn = "1001", sto = "T1", dtm = "2026-12-01 07:30:00", uhr = "2026-12-01 07:31:05",
              lfn = "1", tid = "TERM1", lid = "L1", art = "K", tas = "01", era = "200", kze = kNull,
              ber = kNull, erq = kNull, kst = kNull, qua = kNull, src = "DTA", res = kNull,
              ukz = kNull, dat = "2026-12-01 07:30:00";
};

std::string InsertSql(const Booking& b);

class Installation {
 public:
  explicit Installation(TestDatabaseFactory make_db);
  ~Installation();

  // Writes the settings file with the operator's tool; empty values are
  // written as empty records.
  void WriteSettings(const std::string& login, const std::string& password,
                     const std::string& net8);
  void WriteSettings();  // the database's own credentials

  void Insert(const std::vector<Booking>& bookings);

  // Runs the database's executable in the run folder.
  ProcessResult Run(const std::vector<std::string>& args, const ProcessOptions& options = {});

  std::string Protocol() const;  // the protocol log's bytes, dates replaced
  std::string ExportFile() const { return ReadFile(export_file); }
  // BewIDN of the rows not yet transferred, in key order.
  std::vector<std::string> Pending();

  std::string root, run_dir, export_dir, log_dir, log_path, backup_path, settings_path, export_file;
  std::unique_ptr<TestDatabase> db;
};

// Replaces every server date "dd.mm.yyyy hh:mm:ss" by "<DATE>".
std::string MaskDates(const std::string& text);
