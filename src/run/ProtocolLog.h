// The run protocol log: one entry per call, appended and closed again at once,
// rotated into a single backup when it grows past kProtocolLimit bytes.
#pragma once

#include <cstdint>

inline constexpr char kProtocolLogPath[] = "../../Velunaris_php/log/Kortivane#Log.txt";
inline constexpr char kProtocolBackupPath[] = "../../Velunaris_php/log/Kortivane#Log_bak.txt";
inline constexpr int64_t kProtocolLimit = 10485760;

// Sets the log and backup paths used by later entries (the run driver does
// this before the first entry; the defaults are the two fixed paths above).
void SetProtocolPaths(const char* log_path, const char* backup_path);
const char* ProtocolLogPath();

// Appends text and one line feed to the file at path; never reports failure.
void WriteProtocol(const char* path, const char* text);
