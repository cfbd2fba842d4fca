// The cost of one decryption (dominated by the key schedule, rebuilt on every
// call) and of one lookup, which reads the settings file from its start.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#include "settings/Cipher.h"
#include "settings/IniFile.h"

namespace {

std::string Encrypted(const std::string& plain) {
  std::array<char, 201> text{};
  EncryptValue(plain, text, kCipherKeyText);
  return text.data();
}

void BM_DecryptValue(benchmark::State& state) {
  const std::string text = Encrypted("Geheimes Passwort");  // three blocks
  std::array<char, 201> plain{};
  for (auto _ : state) {
    DecryptValue(text.c_str(), plain.data(), kCipherKeyText);
    benchmark::DoNotOptimize(plain.data());
  }
}
BENCHMARK(BM_DecryptValue);

// A file of state.range(0) records; the wanted key is in the last one, so a
// lookup reads the whole file, as for the last key a run needs.
void BM_GetIniValue(benchmark::State& state) {
  const long records = state.range(0);
  const std::string path = "/tmp/morvask-bench-" + std::to_string(getpid()) + ".ini";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string filler = Encrypted("filler");
    for (long i = 1; i < records; ++i) out << "x;DB;c\n" << i << ";KEY" << i << ";" << filler << "\n";
    out << "x;DB;c\n" << records << ";NET8;" << Encrypted("dbhost:5432/zeit") << "\n";
  }
  for (auto _ : state) {
    GetIniValue("", "NET8", 0, path.c_str());
    benchmark::DoNotOptimize(iniEntry.value.data());
  }
  if (std::string(iniEntry.value.data()) != "dbhost:5432/zeit") state.SkipWithError("lookup failed");
  state.counters["records"] = static_cast<double>(records);
  std::remove(path.c_str());
}
BENCHMARK(BM_GetIniValue)->Arg(3)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
