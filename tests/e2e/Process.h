// Runs a program as a child process in a given folder and collects what an
// operator or a scheduler would see: its standard output and its exit code.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
  int exit_code = -1;      // -1 when the child was ended by a signal
  int signal = 0;          // the signal that ended it, or 0
  std::string out;         // standard output, byte for byte
};

struct ProcessOptions {
  std::string cwd;
  long file_size_limit = -1;  // RLIMIT_FSIZE in bytes; SIGXFSZ ignored
  int kill_after_ms = -1;     // SIGKILL after this many milliseconds
};

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options);

std::string ReadFile(const std::string& path);  // empty when missing
bool FileExists(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
