// What the fuzz targets share: a property check that aborts (libFuzzer then
// keeps the input as a crash), and a scratch folder per fuzzing process.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "property violated: %s (%s:%d)\n", #condition, __FILE__,      \
                   __LINE__);                                                            \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

// A new folder under TMPDIR (or /tmp) for the files of one fuzzing process,
// overwritten per input and removed when the process exits normally (a crash
// leaves it for inspection).
inline std::string MakeScratchFolder(const char* name) {
  static std::string folder;
  const char* tmp = std::getenv("TMPDIR");
  folder = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + name + "-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) std::abort();
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  });
  return folder;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) std::abort();
}
