// The booking table of a test installation, on one backend. The end-to-end
// cases are written once against this and run on every backend.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

inline constexpr char kNull[] = "<NULL>";

class TestDatabase {
 public:
  virtual ~TestDatabase() = default;
  virtual std::string Name() const = 0;        // for test names: "SQLite", "PostgreSQL"
  virtual std::string Executable() const = 0;  // the Morvask_* to run
  virtual std::string Net8() const = 0;        // the service name for the settings file
  virtual std::string Login() const = 0;
  virtual std::string Password() const = 0;
  // Runs SQL that creates the table, inserts rows or alters the installation.
  // Table name Zkr321Bew, dates as 'YYYY-MM-DD HH:MM:SS'.
  virtual bool Exec(const std::string& sql) = 0;
  // Each row's columns as text, NULL as kNull.
  virtual std::vector<std::vector<std::string>> Query(const std::string& sql) = 0;
  virtual std::string LastError() const = 0;
  // SQL that makes the transfer mark of the booking with this BewIDN fail.
  virtual std::string FailMarkSql(const std::string& idn) const = 0;
  // Why this backend cannot be tested here (no server configured), or empty.
  // The cases skip with it instead of passing without a database.
  virtual std::string Unavailable() const { return ""; }
};

// Makes the booking table of a new installation whose run folder is given.
using TestDatabaseFactory = std::unique_ptr<TestDatabase> (*)(const std::string& run_dir);

struct Backend {
  const char* name;
  TestDatabaseFactory make;
};

// Names the backend in test listings instead of its bytes.
inline void PrintTo(const Backend& backend, std::ostream* os) { *os << backend.name; }

// Every backend this build can test against.
std::vector<Backend> AllBackends();

std::unique_ptr<TestDatabase> MakeSqliteTestDatabase(const std::string& run_dir);
std::unique_ptr<TestDatabase> MakePgTestDatabase(const std::string& run_dir);
