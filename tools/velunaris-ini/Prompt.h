// Asking the operator for a secret on the terminal, without echo.
#pragma once

#include <cstddef>
#include <string>

// Writes prompt to the controlling terminal and reads one line with echo off;
// the line end is not part of the answer. False, with error set, when there
// is no terminal, the input ends or the answer is longer than maxLength.
bool ReadHidden(const char* prompt, std::size_t maxLength, std::string& answer, std::string& error);
