// The booking table on the PostgreSQL test server that scripts/test.sh starts
// (MORVASK_PG_*). Rows are written and read as the table's owner with the
// search path on the schema, so the cases' plain "Zkr321Bew" finds it; the
// run itself logs in as the unprivileged run role.
#include <libpq-fe.h>

#include <array>
#include <cstdlib>
#include <memory>

#include "TestDatabase.h"

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

struct ConnFinish {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
struct ResultClear {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultClear>;

class PgTestDatabase : public TestDatabase {
 public:
  PgTestDatabase()
      : host_(Env("MORVASK_PG_HOST")), port_(Env("MORVASK_PG_PORT")), db_(Env("MORVASK_PG_DB")),
        user_(Env("MORVASK_PG_USER")), password_(Env("MORVASK_PG_PASSWORD")) {
    const std::string owner = Env("MORVASK_PG_OWNER");
    const std::string owner_password = Env("MORVASK_PG_OWNER_PASSWORD");
    if (host_.empty() || port_.empty() || db_.empty() || user_.empty() || owner.empty()) return;
    configured_ = true;
    std::array<const char*, 8> keys{"host", "port", "dbname", "user", "password",
                                    "client_encoding", "options", nullptr};
    std::array<const char*, 8> values{host_.c_str(), port_.c_str(), db_.c_str(), owner.c_str(),
                                      owner_password.c_str(), "UTF8",
                                      "-c search_path=keldomar -c lock_timeout=20s", nullptr};
    conn_.reset(PQconnectdbParams(keys.data(), values.data(), 0));
    if (PQstatus(conn_.get()) != CONNECTION_OK) {
      error_ = PQerrorMessage(conn_.get());
      return;
    }
    // Every installation starts with an empty table and no refusing trigger.
    Exec("DROP TRIGGER IF EXISTS fail_mark ON zkr321bew; TRUNCATE zkr321bew");
  }

  std::string Name() const override { return "PostgreSQL"; }
  std::string Executable() const override { return MORVASK_BIN_DIR "/Morvask_PG"; }
  std::string Net8() const override { return host_ + ":" + port_ + "/" + db_; }
  std::string Login() const override { return user_; }
  std::string Password() const override { return password_; }

  bool Exec(const std::string& sql) override {
    Result result(PQexec(conn_.get(), sql.c_str()));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return true;
    error_ = PQerrorMessage(conn_.get());
    return false;
  }

  std::vector<std::vector<std::string>> Query(const std::string& sql) override {
    std::vector<std::vector<std::string>> rows;
    Result result(PQexec(conn_.get(), sql.c_str()));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
      error_ = PQerrorMessage(conn_.get());
      return rows;
    }
    for (int r = 0; r < PQntuples(result.get()); ++r) {
      std::vector<std::string>& row = rows.emplace_back();
      for (int c = 0; c < PQnfields(result.get()); ++c) {
        row.emplace_back(PQgetisnull(result.get(), r, c) ? kNull : PQgetvalue(result.get(), r, c));
      }
    }
    return rows;
  }

  std::string LastError() const override { return error_; }

  std::string FailMarkSql(const std::string& idn) const override {
    std::string quoted;
    for (char c : idn) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return "CREATE OR REPLACE FUNCTION fail_mark() RETURNS trigger LANGUAGE plpgsql AS"
           " $$BEGIN RAISE EXCEPTION 'mark refused'; END$$;"
           "CREATE TRIGGER fail_mark BEFORE UPDATE ON zkr321bew FOR EACH ROW"
           " WHEN (OLD.bewidn = '" + quoted + "') EXECUTE FUNCTION fail_mark()";
  }

  std::string Unavailable() const override {
    if (configured_) return "";
    return "no PostgreSQL test server: scripts/test.sh starts one; by hand run "
           "scripts/pg-test-server.sh start DIR and source DIR/pg.env";
  }

 private:
  std::string host_, port_, db_, user_, password_;
  bool configured_ = false;
  std::unique_ptr<PGconn, ConnFinish> conn_;
  std::string error_;
};

}  // namespace

std::unique_ptr<TestDatabase> MakePgTestDatabase(const std::string&) {
  return std::make_unique<PgTestDatabase>();
}
