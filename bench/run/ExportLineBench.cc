// Formats and appends export lines and protocol entries the way a run does,
// and in the same run makes the bare file calls with pre-formed lines on the
// same files. The counter "ratio" is program time / bare time per line.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <benchmark/benchmark.h>

#include "run/ExportLine.h"
#include "run/ProtocolLog.h"

namespace {

constexpr int kLines = 100000;
constexpr int kChunk = 1000;  // the two loops take turns, so drift hits both alike

using Clock = std::chrono::steady_clock;

template <size_t N>
void Put(std::array<char, N>& field, const char* value) {
  std::snprintf(field.data(), N, "%s", value);
}

BewRecord TypicalBooking() {
  BewRecord b;
  Put(b.BewTID, "TERMINAL-07");
  Put(b.BewLID, "L0007");
  Put(b.BewIDN, "000000004711");
  Put(b.BewSto, "00000001");
  Put(b.BewDtm, "20240131000000");
  Put(b.BewUhr, "19000101081530");
  Put(b.BewLfn, "12");
  Put(b.BewArt, "K");
  Put(b.BewTas, "F1");
  Put(b.BewEra, "200");
  Put(b.BewErq, "E9");
  Put(b.BewKst, "4711-Lager");
  Put(b.BewQua, "Q1");
  Put(b.BewRes, "");
  Put(b.BewSrc, "DTA");
  return b;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// One line the bare way: open, one write, close.
void BareAppend(const char* path, const std::string& line, bool take_position) {
  int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) std::abort();
  if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) std::abort();
  if (take_position) benchmark::DoNotOptimize(::lseek(fd, 0, SEEK_CUR));
  ::close(fd);
}

void BM_ExportAndProtocolVsBareCalls(benchmark::State& state) {
  std::string dir = (std::filesystem::temp_directory_path() / "morvask-bench-XXXXXX").string();
  if (::mkdtemp(dir.data()) == nullptr) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  const std::string export_path = dir + "/BEWDATA.dat";
  const std::string log_path = dir + "/Kortivane#Log.txt";
  SetProtocolPaths(log_path.c_str(), (dir + "/Kortivane#Log_bak.txt").c_str());

  // The bare loop writes exactly the bytes the program writes.
  BewRecord booking = TypicalBooking();
  int32_t counter = 0;
  if (TransferBooking(booking, export_path.c_str(), false, counter) != TransferResult::kExported) {
    state.SkipWithError("booking not exported");
    return;
  }
  const std::string export_line = ReadAll(export_path);
  const std::string protocol_line = ReadAll(log_path);

  double program_ns = 0;
  double bare_ns = 0;
  for (auto _ : state) {
    std::filesystem::remove(export_path);
    std::filesystem::remove(log_path);
    for (int chunk = 0; chunk < kLines / kChunk; ++chunk) {
      auto program = [&] {
        auto start = Clock::now();
        for (int i = 0; i < kChunk; ++i) {
          // The code is already normalised, so every call forms the same line.
          TransferBooking(booking, export_path.c_str(), false, counter);
        }
        program_ns += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
      };
      auto bare = [&] {
        auto start = Clock::now();
        for (int i = 0; i < kChunk; ++i) {
          BareAppend(export_path.c_str(), export_line, false);
          BareAppend(log_path.c_str(), protocol_line, true);
        }
        bare_ns += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
      };
      if (chunk % 2 == 0) {
        program();
        bare();
      } else {
        bare();
        program();
      }
    }
  }
  const double lines = static_cast<double>(state.iterations()) * kLines;
  state.counters["program_ns_per_line"] = program_ns / lines;
  state.counters["bare_ns_per_line"] = bare_ns / lines;
  state.counters["ratio"] = program_ns / bare_ns;
  std::filesystem::remove_all(dir);
}

BENCHMARK(BM_ExportAndProtocolVsBareCalls)->Unit(benchmark::kMillisecond)->Iterations(1)
    ->Repetitions(5);

}  // namespace
