#include "db/BewRecord.h"

#include <cstring>

char* TrimRight(char* text) {
  size_t n = std::strlen(text);
  while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
  text[n] = '\0';
  return text;
}
