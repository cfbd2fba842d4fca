#include "TestDatabase.h"

std::vector<Backend> AllBackends() {
  return {
      {"SQLite", MakeSqliteTestDatabase},
  };
}
