#include "run/CommandLine.h"

#include <cstring>

#include "run/ExportLine.h"

bool IsVerboseSwitch(const char* argument) {
  std::string copy(argument);  // the argument itself keeps its letters
  return std::strcmp(UpperCaseInPlace(copy.data()), "/D") == 0;
}

bool ParseCommandLine(int argc, const char* const* argv, CommandLine& line) {
  if (argc < 2) return false;

  line.settings_path = argv[1];
  // The separator is added whatever the directory ends with. A switch in
  // second place means there is no target directory.
  if (argc >= 3 && !IsVerboseSwitch(argv[2])) {
    line.export_path = std::string(argv[2]) + "/" + "BEWDATA" + ".dat";
  } else {
    line.export_path = std::string("BEWDATA") + ".dat";
  }
  line.verbose = false;
  for (int i = 1; i < argc; ++i) line.verbose = line.verbose || IsVerboseSwitch(argv[i]);
  return true;
}
