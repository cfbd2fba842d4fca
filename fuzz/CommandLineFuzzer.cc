// The command line: arbitrary arguments, separated by NUL bytes in the input.
// Properties: no argument means usage; the settings path is argument 1 as
// given; the export path follows argument 2 unless that is the switch; the
// switch is on exactly when some argument is "/D" or "/d"; no argument changes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "run/CommandLine.h"

namespace {

bool LooksLikeSwitch(std::string_view argument) {
  return argument.size() == 2 && argument[0] == '/' && (argument[1] == 'D' || argument[1] == 'd');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every argument in an allocation of its own, exactly as long as it is, so
  // that a read past its terminator is caught.
  std::vector<std::string> arguments{"Morvask_SQLITE"};
  if (size > 0) {
    arguments.emplace_back();
    for (size_t i = 0; i < size; ++i) {
      if (data[i] == 0) {
        arguments.emplace_back();
      } else {
        arguments.back().push_back(static_cast<char>(data[i]));
      }
    }
  }
  std::vector<std::unique_ptr<char[]>> storage;
  std::vector<const char*> argv;
  for (const std::string& a : arguments) {
    storage.push_back(std::make_unique<char[]>(a.size() + 1));
    std::memcpy(storage.back().get(), a.c_str(), a.size() + 1);
    argv.push_back(storage.back().get());
  }
  argv.push_back(nullptr);
  const int argc = static_cast<int>(arguments.size());

  CommandLine line;
  const bool parsed = ParseCommandLine(argc, argv.data(), line);

  for (size_t i = 0; i < arguments.size(); ++i) {
    FUZZ_CHECK(std::string_view(argv[i]) == arguments[i]);
  }
  if (argc < 2) {
    FUZZ_CHECK(!parsed);
    return 0;
  }
  FUZZ_CHECK(parsed);
  FUZZ_CHECK(line.settings_path == arguments[1]);
  const bool has_directory = argc >= 3 && !LooksLikeSwitch(arguments[2]);
  FUZZ_CHECK(line.export_path == (has_directory ? arguments[2] + "/BEWDATA.dat" : "BEWDATA.dat"));
  bool verbose = false;
  for (int i = 1; i < argc; ++i) verbose = verbose || LooksLikeSwitch(arguments[i]);
  FUZZ_CHECK(line.verbose == verbose);
  for (int i = 1; i < argc; ++i) FUZZ_CHECK(IsVerboseSwitch(argv[i]) == LooksLikeSwitch(arguments[i]));
  return 0;
}
