// One booking of the table Zkr321Bew as the program handles it: 17
// NUL-terminated texts in fixed-size buffers (sizes count the terminator).
// The record is a plain value; modules copy it in and out whole.
#pragma once

#include <array>

struct BewRecord {
  std::array<char, 256> BewTID{};
  std::array<char, 6> BewLID{};
  std::array<char, 51> BewIDN{};
  std::array<char, 9> BewSto{};
  std::array<char, 20> BewDtm{};  // 14 digits yyyymmddhh24miss, or empty
  std::array<char, 20> BewUhr{};  // 14 digits yyyymmddhh24miss, or empty
  std::array<char, 4> BewLfn{};
  std::array<char, 4> BewArt{};
  std::array<char, 3> BewTas{};
  std::array<char, 4> BewEra{};
  std::array<char, 2> BewKze{};
  std::array<char, 2> BewBer{};
  std::array<char, 11> BewErq{};
  std::array<char, 31> BewKst{};
  std::array<char, 6> BewQua{};
  std::array<char, 31> BewRes{};
  std::array<char, 4> BewSrc{};  // last in memory, though selected before BewRes
};

// Removes trailing blanks and tabs in place; other white space and leading
// blanks stay. Returns text.
char* TrimRight(char* text);
