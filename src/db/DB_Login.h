#pragma once

#include <cstdint>

// Reads LOGIN, PASS and NET8 from the settings file and connects. Returns 0
// when connected with the schema switched, 97 when the settings file cannot
// be opened, otherwise the nonzero status of SQL_Connect.
int32_t DB_Login(const char* settings_path);
