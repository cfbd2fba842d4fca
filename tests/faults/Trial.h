// What the fault trials share: bookings whose export line is known, a reader
// that splits an export file into whole lines and a torn rest, and a run of
// the program under another user.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "Installation.h"

// A booking that is handed over: source DTA, code 200 (exported as 204).
Booking HandedOver(const std::string& idn);
// A booking the code filter keeps back: source DTA, code 205. It is marked,
// never written.
Booking KeptBack(const std::string& idn);
// The export line of HandedOver(idn), line feed included.
std::string LineOf(const std::string& idn);

// n bookings with BewIDN prefix + number, every tenth kept back.
std::vector<Booking> Batch(const std::string& prefix, int n);
// The BewIDN of the bookings in batch that are handed over.
std::vector<std::string> HandedOverIds(const std::vector<Booking>& batch);

struct ExportLines {
  std::vector<std::string> lines;  // whole lines, line feed included
  std::string torn;                // bytes after the last line feed
};
ExportLines SplitLines(const std::string& file);

// How often each booking's line occurs in the file. Every line must be the
// whole line of a handed-over booking: anything else fails the calling test.
std::map<std::string, int> CountLines(const std::string& file);

// BewIDN of the rows marked transferred.
std::vector<std::string> Transferred(Installation& inst);

// Runs the installation's executable as user and group 65534 (nobody), with
// standard output discarded. Needs root; returns the exit code, -1 when the
// child was ended by a signal.
int RunAsNobody(Installation& inst, const std::vector<std::string>& args);
// Gives the installation's run and export folders to user 65534, so that a
// run as that user can use the database and write the export file.
void HandOverToNobody(Installation& inst);
