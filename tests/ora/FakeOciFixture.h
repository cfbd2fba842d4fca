// A test fixture that points the backend at the recording stand-in of the
// client library and reads back what it recorded.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "db/SqlRuntime.h"

// The texts of the program's statements, as the statement modules pass them.
inline constexpr std::string_view kSchemaText = "ALTER SESSION SET CURRENT_SCHEMA=KELDOMAR";
inline constexpr std::string_view kSysDateText =
    "select TO_CHAR(SYSDATE,'dd.mm.yyyy hh24:mi:ss') into :b0  from dual";
// What the server receives for it: the query without its INTO clause.
inline constexpr std::string_view kSysDateQuery =
    "select TO_CHAR(SYSDATE,'dd.mm.yyyy hh24:mi:ss')  from dual";
inline constexpr std::string_view kCursorText =
    "select BewTID ,BewLID ,BewIDN ,BewSto ,to_char(BewDtm,'yyyymmddhh24miss') ,"
    "to_char(BewUhr,'yyyymmddhh24miss') ,BewLfn ,BewArt ,BewTas ,BewEra ,BewKze ,BewBer ,"
    "BewErq ,BewKst ,BewQua ,BewSrc ,BewRes  from KELDOMAR.Zkr321Bew where ((BewUkz<>4 or "
    "BewUkz is null ) and BewIDN<>' ') order by BewIdn,BewDtm,BewUhr,BewLfn";
inline constexpr std::string_view kMarkText =
    "update KELDOMAR.Zkr321Bew  set BewUkz=4,BewUdt=SYSTIMESTAMP where ((((BewIDN=:b0 and "
    "BewSto=:b1) and BewDtm=to_date(:b2,'yyyymmddhh24miss')) and "
    "BewUhr=to_date(:b3,'yyyymmddhh24miss')) and BewLfn=:b4)";
inline constexpr std::string_view kPurgeText =
    "delete  from KELDOMAR.ZKR321BEW  where (BewDat<ADD_MONTHS(SYSDATE,(-3)) and BewUkz=4)";

// Buffer sizes of the booking's columns in the cursor's select order.
inline constexpr std::array<int32_t, 17> kSelectSizes = {256, 6, 51, 9, 20, 20, 4,  4,  3,
                                                         4,   2, 2,  11, 31, 6,  4, 31};

// One recorded call: its name and its "key=value" fields.
struct Call {
  std::string name;
  std::vector<std::string> fields;
  bool Has(const std::string& field) const {
    return std::find(fields.begin(), fields.end(), field) != fields.end();
  }
  std::string Get(const std::string& key) const {
    for (const std::string& f : fields)
      if (f.rfind(key + "=", 0) == 0) return f.substr(key.size() + 1);
    return "<missing " + key + ">";
  }
};

class FakeOciTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           ("morvask_ora_" + std::string(info->name()) + "_" + std::to_string(getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    log_ = dir_ / "calls.log";
    script_ = dir_ / "script.txt";
    setenv("MORVASK_OCI_LIB", MORVASK_FAKE_OCI_PATH, 1);
    setenv("MORVASK_FAKE_OCI_LOG", log_.c_str(), 1);
    setenv("MORVASK_FAKE_OCI_SCRIPT", script_.c_str(), 1);
    Script("");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void Script(const std::string& text) { std::ofstream(script_, std::ios::binary) << text; }

  std::vector<Call> Calls() const {
    std::vector<Call> calls;
    std::ifstream in(log_, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      Call call;
      std::stringstream fields(line);
      std::string field;
      std::getline(fields, call.name, '\t');
      while (std::getline(fields, field, '\t')) call.fields.push_back(field);
      calls.push_back(call);
    }
    return calls;
  }
  std::vector<Call> Calls(const std::string& name) const {
    std::vector<Call> all = Calls();
    std::erase_if(all, [&](const Call& c) { return c.name != name; });
    return all;
  }
  void ClearLog() { std::filesystem::remove(log_); }

  std::filesystem::path dir_, log_, script_;
};

// A fixed-size text host variable.
template <size_t N>
struct Text {
  std::array<char, N> buf{};
  explicit Text(std::string_view value = "") {
    std::copy_n(value.data(), std::min(value.size(), N - 1), buf.data());
  }
  SqlHostVar In() { return {buf.data(), static_cast<int32_t>(N), SqlDir::kIn, kSqlTypeString, nullptr}; }
  SqlHostVar Out(int16_t* indicator = nullptr) {
    return {buf.data(), static_cast<int32_t>(N), SqlDir::kOut, kSqlTypeString, indicator};
  }
  std::string str() const { return std::string(buf.data()); }
};

inline int32_t RunSql(SqlKind kind, std::string_view text = {}, std::span<SqlHostVar> vars = {}) {
  SqlRun(SqlStmt{kind, text, vars});
  return sqlca.sqlcode;
}

inline int32_t ConnectAs(std::string_view connect_text) {
  Text<101> text(connect_text);
  SqlHostVar var = text.In();
  return RunSql(SqlKind::kConnect, {}, std::span(&var, 1));
}

// Connect and schema switch, as a login does them.
inline int32_t Login(std::string_view connect_text = "scott/tiger@ORCL") {
  if (int32_t status = ConnectAs(connect_text); status != 0) return status;
  Text<101> schema(kSchemaText);
  SqlHostVar var = schema.In();
  RunSql(SqlKind::kPrepare, {}, std::span(&var, 1));
  return RunSql(SqlKind::kExecute);
}
