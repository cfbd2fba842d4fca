// SQL functions the dialect table needs and SQLite does not have.
#pragma once

struct sqlite3;

// morvask_add_months(datetime text, months): calendar-month arithmetic on
//   "YYYY-MM-DD HH:MM:SS". The last day of a month, or a day the target month
//   does not have, gives the target month's last day; the time stays.
// morvask_to_date(text): 14 digits yyyymmddhh24miss to "YYYY-MM-DD HH:MM:SS";
//   NULL or empty text gives NULL, any other text is an error.
// Returns an SQLite result code.
int RegisterSqliteFunctions(sqlite3* db);
