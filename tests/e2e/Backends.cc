#include "TestDatabase.h"

std::vector<Backend> AllBackends() {
  return {
      {"SQLite", MakeSqliteTestDatabase},
#ifdef MORVASK_HAVE_PG
      {"PostgreSQL", MakePgTestDatabase},
#endif
  };
}
