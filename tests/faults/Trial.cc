#include "Trial.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fcntl.h>

#include <filesystem>

namespace {

constexpr uid_t kNobody = 65534;

}  // namespace

Booking HandedOver(const std::string& idn) {
  Booking b;
  b.idn = idn;
  return b;
}

Booking KeptBack(const std::string& idn) {
  Booking b = HandedOver(idn);
  b.era = "205";
  return b;
}

std::string LineOf(const std::string& idn) {
  return idn + ",T1,20261201,073105,1,TERM1,L1,K,,,,,204,,01,DTA,\n";
}

std::vector<Booking> Batch(const std::string& prefix, int n) {
  std::vector<Booking> batch;
  for (int i = 0; i < n; ++i) {
    const std::string idn = prefix + std::to_string(100000 + i);
    batch.push_back(i % 10 == 9 ? KeptBack(idn) : HandedOver(idn));
  }
  return batch;
}

std::vector<std::string> HandedOverIds(const std::vector<Booking>& batch) {
  std::vector<std::string> ids;
  for (const Booking& b : batch) {
    if (b.era == "200") ids.push_back(b.idn);
  }
  return ids;
}

ExportLines SplitLines(const std::string& file) {
  ExportLines result;
  size_t start = 0;
  for (size_t end; (end = file.find('\n', start)) != std::string::npos; start = end + 1) {
    result.lines.push_back(file.substr(start, end - start + 1));
  }
  result.torn = file.substr(start);
  return result;
}

std::map<std::string, int> CountLines(const std::string& file) {
  const ExportLines split = SplitLines(file);
  EXPECT_EQ(split.torn, "") << "torn line at the end of the export file";
  std::map<std::string, int> counts;
  for (const std::string& line : split.lines) {
    const std::string idn = line.substr(0, line.find(','));
    EXPECT_EQ(line, LineOf(idn)) << "not a whole line of a handed-over booking";
    ++counts[idn];
  }
  return counts;
}

std::vector<std::string> Transferred(Installation& inst) {
  std::vector<std::string> ids;
  for (const auto& row :
       inst.db->Query("SELECT BewIDN FROM Zkr321Bew WHERE BewUkz = 4 ORDER BY BewIDN")) {
    ids.push_back(row[0]);
  }
  return ids;
}

void HandOverToNobody(Installation& inst) {
  ::chmod(inst.root.c_str(), 0755);  // mkdtemp made it 0700
  for (const std::string& dir : {inst.run_dir, inst.export_dir}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
      ::chown(entry.path().c_str(), kNobody, kNobody);
    }
    ::chown(dir.c_str(), kNobody, kNobody);
  }
}

int RunAsNobody(Installation& inst, const std::vector<std::string>& args) {
  const std::string program = inst.db->Executable();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    if (::chdir(inst.run_dir.c_str()) != 0 || ::setgroups(0, nullptr) != 0 ||
        ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(127);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
