#include "Installation.h"

#include <stdlib.h>

#include <filesystem>
#include <string_view>
#include <stdexcept>

namespace {

std::string Quote(const std::string& value) {
  if (value == kNull) return "NULL";
  std::string out = "'";
  for (char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

}  // namespace

std::string InsertSql(const Booking& b) {
  return "INSERT INTO Zkr321Bew (BewTID, BewLID, BewIDN, BewSto, BewDtm, BewUhr, BewLfn, BewArt, "
         "BewTas, BewEra, BewKze, BewBer, BewErq, BewKst, BewQua, BewSrc, BewRes, BewUkz, BewDat) "
         "VALUES (" +
         Quote(b.tid) + "," + Quote(b.lid) + "," + Quote(b.idn) + "," + Quote(b.sto) + "," +
         Quote(b.dtm) + "," + Quote(b.uhr) + "," + Quote(b.lfn) + "," + Quote(b.art) + "," +
         Quote(b.tas) + "," + Quote(b.era) + "," + Quote(b.kze) + "," + Quote(b.ber) + "," +
         Quote(b.erq) + "," + Quote(b.kst) + "," + Quote(b.qua) + "," + Quote(b.src) + "," +
         Quote(b.res) + "," + (b.ukz == kNull ? "NULL" : b.ukz) + "," + Quote(b.dat) + ");\n";
}

Installation::Installation(TestDatabaseFactory make_db) {
  std::string templ = (std::filesystem::temp_directory_path() / "morvask-e2e-XXXXXX").string();
  root = ::mkdtemp(templ.data());
  run_dir = root + "/inst/run";
  export_dir = root + "/inst/export";
  log_dir = root + "/Velunaris_php/log";
  log_path = log_dir + "/Kortivane#Log.txt";
  backup_path = log_dir + "/Kortivane#Log_bak.txt";
  settings_path = run_dir + "/Velunaris.ini";
  export_file = export_dir + "/BEWDATA.dat";
  std::filesystem::create_directories(run_dir);
  std::filesystem::create_directories(export_dir);
  std::filesystem::create_directories(log_dir);
  db = make_db(run_dir);
}

Installation::~Installation() {
  db.reset();
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
}

void Installation::WriteSettings(const std::string& login, const std::string& password,
                                 const std::string& net8) {
  const std::pair<const char*, const std::string*> keys[] = {
      {"LOGIN", &login}, {"PASS", &password}, {"NET8", &net8}};
  for (const auto& [key, value] : keys) {
    RunProcess(MORVASK_BIN_DIR "/velunaris-ini", {"set", settings_path, key, *value}, {});
  }
}

void Installation::WriteSettings() { WriteSettings(db->Login(), db->Password(), db->Net8()); }

void Installation::Insert(const std::vector<Booking>& bookings) {
  std::string sql;
  for (const auto& b : bookings) sql += InsertSql(b);
  if (!db->Exec(sql)) throw std::runtime_error("insert failed: " + db->LastError());
}

ProcessResult Installation::Run(const std::vector<std::string>& args,
                                const ProcessOptions& options) {
  ProcessOptions opts = options;
  opts.cwd = run_dir;
  return RunProcess(db->Executable(), args, opts);
}

std::string Installation::Protocol() const { return MaskDates(ReadFile(log_path)); }

std::vector<std::string> Installation::Pending() {
  std::vector<std::string> ids;
  for (const auto& row : db->Query("SELECT BewIDN FROM Zkr321Bew WHERE BewUkz IS NULL OR "
                                   "BewUkz <> 4 ORDER BY BewIDN, BewDtm, BewUhr, BewLfn")) {
    ids.push_back(row[0]);
  }
  return ids;
}

namespace {

// True when a server date "dd.mm.yyyy hh:mm:ss" starts at text[pos].
bool DateAt(const std::string& text, size_t pos) {
  constexpr std::string_view kShape = "dd.dd.dddd dd:dd:dd";
  if (pos + kShape.size() > text.size()) return false;
  for (size_t i = 0; i < kShape.size(); ++i) {
    const char c = text[pos + i];
    if (kShape[i] == 'd' ? (c < '0' || c > '9') : c != kShape[i]) return false;
  }
  return true;
}

}  // namespace

std::string MaskDates(const std::string& text) {
  std::string out;
  for (size_t pos = 0; pos < text.size();) {
    if (DateAt(text, pos)) {
      out += "<DATE>";
      pos += 19;
    } else {
      out += text[pos++];
    }
  }
  return out;
}
