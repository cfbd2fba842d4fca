#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
  ProcessResult result;
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return result;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipe_fds[1], 1);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(127);
    if (options.file_size_limit >= 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      struct rlimit lim {};
      lim.rlim_cur = lim.rlim_max = static_cast<rlim_t>(options.file_size_limit);
      ::setrlimit(RLIMIT_FSIZE, &lim);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  const auto start = std::chrono::steady_clock::now();
  bool killed = false;
  char buf[4096];
  for (;;) {
    int timeout = -1;
    if (options.kill_after_ms >= 0 && !killed) {
      const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start).count();
      timeout = elapsed >= options.kill_after_ms ? 0 : static_cast<int>(options.kill_after_ms - elapsed);
    }
    struct pollfd pfd {pipe_fds[0], POLLIN, 0};
    const int ready = ::poll(&pfd, 1, timeout);
    if (ready == 0) {
      ::kill(pid, SIGKILL);
      killed = true;
      continue;
    }
    const ssize_t n = ::read(pipe_fds[0], buf, sizeof buf);
    if (n <= 0) break;
    result.out.append(buf, static_cast<size_t>(n));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}
