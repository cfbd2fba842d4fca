#include "tools/bewgen/PgBookings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "tools/bewgen/BookingFiles.h"

namespace {

struct ResultClear {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultClear>;

// The COPY text of the next rows, written into memory.
std::string CopyText(BookingGen& gen, int64_t rows) {
  char* data = nullptr;
  size_t size = 0;
  std::FILE* memory = open_memstream(&data, &size);
  if (memory == nullptr) return {};
  WriteBookingText(memory, gen, rows, BookingTextFormat::kCopy);
  std::fclose(memory);
  std::string text(data, size);
  std::free(data);
  return text;
}

}  // namespace

std::string CopyBookingsToPg(PGconn* conn, BookingGen& gen, int64_t rows) {
  Result start(PQexec(conn, "COPY keldomar.zkr321bew FROM STDIN"));
  if (PQresultStatus(start.get()) != PGRES_COPY_IN) return PQerrorMessage(conn);
  constexpr int64_t kChunk = 10000;
  for (int64_t done = 0; done < rows; done += kChunk) {
    std::string text = CopyText(gen, std::min(kChunk, rows - done));
    if (PQputCopyData(conn, text.data(), static_cast<int>(text.size())) != 1) {
      PQputCopyEnd(conn, "writing the bookings failed");
      Result drain(PQgetResult(conn));
      return PQerrorMessage(conn);
    }
  }
  if (PQputCopyEnd(conn, nullptr) != 1) return PQerrorMessage(conn);
  Result end(PQgetResult(conn));
  if (PQresultStatus(end.get()) != PGRES_COMMAND_OK) return PQresultErrorMessage(end.get());
  while (Result more{PQgetResult(conn)}) {
  }
  return "";
}
