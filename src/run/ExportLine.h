// The per-booking work of a run: the code normalisation, the export filter,
// and the export line, protocol line and console line of a handed-over booking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "db/BewRecord.h"

// Longest value a record field can hold (its buffer less the terminator).
template <auto Field>
inline constexpr size_t kFieldWidth =
    std::tuple_size_v<std::remove_cvref_t<decltype(BewRecord{}.*Field)>> - 1;

inline constexpr size_t kBookingDateWidth = 8;  // yyyymmdd from BewDtm
inline constexpr size_t kBookingTimeWidth = 6;  // hhmmss from BewUhr

// Longest export line, without its line feed: 17 fields and 16 commas.
inline constexpr size_t kExportLineMax =
    kFieldWidth<&BewRecord::BewIDN> + kFieldWidth<&BewRecord::BewSto> +
    kBookingDateWidth + kBookingTimeWidth +
    kFieldWidth<&BewRecord::BewLfn> + kFieldWidth<&BewRecord::BewTID> +
    kFieldWidth<&BewRecord::BewLID> + kFieldWidth<&BewRecord::BewArt> +
    kFieldWidth<&BewRecord::BewKst> + kFieldWidth<&BewRecord::BewQua> +
    kFieldWidth<&BewRecord::BewKze> + kFieldWidth<&BewRecord::BewBer> +
    kFieldWidth<&BewRecord::BewEra> + kFieldWidth<&BewRecord::BewErq> +
    kFieldWidth<&BewRecord::BewTas> + kFieldWidth<&BewRecord::BewSrc> +
    kFieldWidth<&BewRecord::BewRes> + 16;

// Longest protocol line of a booking: 8 fields, 5 commas and 2 comma-blanks.
inline constexpr size_t kProtocolLineMax =
    kFieldWidth<&BewRecord::BewIDN> + kBookingDateWidth + kBookingTimeWidth +
    kFieldWidth<&BewRecord::BewTID> + kFieldWidth<&BewRecord::BewLID> +
    kFieldWidth<&BewRecord::BewArt> + kFieldWidth<&BewRecord::BewLfn> +
    kFieldWidth<&BewRecord::BewSrc> + 5 + 2 * 2;

static_assert(kExportLineMax == 439);
static_assert(kProtocolLineMax == 342);

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
