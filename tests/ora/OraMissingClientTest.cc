// The backend on a machine without the Oracle client: the login fails with
// the backend's own status and the console says what was looked for.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "FakeOciFixture.h"
#include "db/ora/OraStatus.h"

namespace {

std::string ConnectCapturingConsole(int32_t& status) {
  ::testing::internal::CaptureStdout();
  status = ConnectAs("scott/tiger@ORCL");
  return ::testing::internal::GetCapturedStdout();
}

void ExpectNoCredentials(const std::string& console) {
  EXPECT_EQ(console.find("scott"), std::string::npos) << console;
  EXPECT_EQ(console.find("tiger"), std::string::npos) << console;
  EXPECT_EQ(console.find("ORCL"), std::string::npos) << console;
}

TEST(OraMissingClient, NamedFileThatIsNotThere) {
  setenv("MORVASK_OCI_LIB", "/nonexistent/instantclient/libclntsh.so.19.1", 1);
  int32_t status = 0;
  const std::string console = ConnectCapturingConsole(status);
  EXPECT_EQ(status, kOraErrClientNotLoaded);
  EXPECT_NE(console.find("/nonexistent/instantclient/libclntsh.so.19.1"), std::string::npos)
      << console;
  EXPECT_NE(console.find("MORVASK_OCI_LIB"), std::string::npos) << console;
  ExpectNoCredentials(console);
  EXPECT_EQ(sqlca.sqlcode, kOraErrClientNotLoaded);
  EXPECT_EQ(RunSql(SqlKind::kCommit), kSqlErrNotConnected);
}

TEST(OraMissingClient, DefaultNameThroughTheLoaderSearchPath) {
  unsetenv("MORVASK_OCI_LIB");
  if (void* lib = dlopen("libclntsh.so", RTLD_LAZY | RTLD_LOCAL)) {
    dlclose(lib);
    GTEST_SKIP() << "an Oracle client is installed on this machine";
  }
  int32_t status = 0;
  const std::string console = ConnectCapturingConsole(status);
  EXPECT_EQ(status, kOraErrClientNotLoaded);
  EXPECT_NE(console.find("\"libclntsh.so\""), std::string::npos) << console;
  EXPECT_NE(console.find("LD_LIBRARY_PATH"), std::string::npos) << console;
  EXPECT_NE(console.find("MORVASK_OCI_LIB"), std::string::npos) << console;
  ExpectNoCredentials(console);
}

TEST(OraMissingClient, LibraryWithoutTheEntryPoints) {
  setenv("MORVASK_OCI_LIB", MORVASK_NOT_OCI_PATH, 1);
  int32_t status = 0;
  const std::string console = ConnectCapturingConsole(status);
  EXPECT_EQ(status, kOraErrClientIncomplete);
  EXPECT_NE(console.find(MORVASK_NOT_OCI_PATH), std::string::npos) << console;
  EXPECT_NE(console.find("OCIEnvNlsCreate"), std::string::npos) << console;
  ExpectNoCredentials(console);
}

}  // namespace
