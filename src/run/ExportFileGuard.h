// The export file as one run holds it from the creatability test to its end:
// an exclusive advisory lock so that two runs never hand over the same
// bookings, the repair of a line that a killed run left incomplete, and the
// flush to stable storage before the run's marks are committed.
#pragma once

#include <cstdint>

#include "run/FileDescriptor.h"

// Closing the descriptor also releases the run lock.
struct ExportFileGuard {
  FileDescriptor file;
  bool created = false;  // this run created the file
};

enum class ExportOpenResult { kOk, kCannotOpen, kHeldByOtherRun };

// Opens the export file for appending, creating it when missing, and takes
// the run lock without waiting.
ExportOpenResult OpenExportFile(const char* path, ExportFileGuard& guard);

// Cuts an incomplete last line (one not ending in a line feed) off the file.
// Returns the number of bytes cut, 0 when the file ends with a whole line,
// or -1 when the file could not be examined or cut.
int64_t CutIncompleteLastLine(const ExportFileGuard& guard);

// Flushes the file, and its directory when this run created the file, to
// stable storage. Returns true on success.
bool FlushExportFile(const ExportFileGuard& guard, const char* path);
