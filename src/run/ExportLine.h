// The per-booking work of a run: the code normalisation, the export filter,
// and the export line, protocol line and console line of a handed-over booking.
#pragma once

#include <cstdint>
#include <string_view>

#include "db/BewRecord.h"

// Turns a..z into A..Z in place, no other byte changes. Returns text.
char* UpperCaseInPlace(char* text);

void NormaliseBewEra(BewRecord& booking, const char* source_key);
bool IsExportedEra(const char* era);

// Appends one whole line to the export file, creating it when missing.
// Returns true only when open, the write of every byte and close succeeded;
// a partly written line is cut off again.
bool AppendExportLine(const char* path, std::string_view line);

enum class TransferResult {
  kExported,     // its line is in the export file: mark it
  kFiltered,     // not handed over by the code filter: mark it
  kWriteFailed,  // its line could not be written: do not mark it
};

TransferResult TransferBooking(BewRecord& booking, const char* export_path, bool verbose,
                               int32_t& counter);
