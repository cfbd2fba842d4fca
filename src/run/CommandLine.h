// The command line of a run: the settings path, the export path and the
// verbose switch, read from the arguments without changing them.
#pragma once

#include <string>

struct CommandLine {
  std::string settings_path;  // argument 1 as given
  std::string export_path;    // <argument 2>/BEWDATA.dat, or BEWDATA.dat
  bool verbose = false;       // "/D" in any argument, either case
};

// True when argument is the verbose switch "/D" (the d in either case).
bool IsVerboseSwitch(const char* argument);

// Fills line from argv[1 .. argc-1]. Returns false when there is no argument,
// in which case the run prints its usage text.
bool ParseCommandLine(int argc, const char* const* argv, CommandLine& line);
