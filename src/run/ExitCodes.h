// The exit codes a scheduler reads. When several apply at the end of a run,
// kExitCommitFailed wins over kExitLinesFailed, which wins over kExitReadFailed.
#pragma once

inline constexpr int kExitUsage = 98;           // no argument; usage printed
inline constexpr int kExitNoSettings = 97;      // the settings file cannot be opened
inline constexpr int kExitLoginFailed = 96;     // the login failed
inline constexpr int kExitRunning = 93;         // another run holds the export file
inline constexpr int kExitReadFailed = 92;      // committed, but the cursor failed
inline constexpr int kExitLinesFailed = 91;     // committed, some lines not written
inline constexpr int kExitNoExportFile = 90;    // the export file cannot be opened
inline constexpr int kExitDone = 1;             // complete run, commit succeeded
inline constexpr int kExitCommitFailed = 0;     // the commit failed or was not made
