#include "db/ora/OciLibrary.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "db/ora/OraStatus.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

OciApi g_api{};
bool g_loaded = false;

#ifdef _WIN32
using LibHandle = HMODULE;
constexpr const char* kSearchPathName = "PATH";

LibHandle OpenLibrary(const std::string& name, std::string& why) {
  LibHandle lib = LoadLibraryA(name.c_str());
  if (lib == nullptr) why = "Windows-Fehler " + std::to_string(GetLastError());
  return lib;
}
void* FindSymbol(LibHandle lib, const char* symbol) {
  return std::bit_cast<void*>(GetProcAddress(lib, symbol));
}
void CloseLibrary(LibHandle lib) { FreeLibrary(lib); }
#else
using LibHandle = void*;
constexpr const char* kSearchPathName = "LD_LIBRARY_PATH";

LibHandle OpenLibrary(const std::string& name, std::string& why) {
  LibHandle lib = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    const char* error = dlerror();
    why = error != nullptr ? error : "unbekannter Fehler";
  }
  return lib;
}
void* FindSymbol(LibHandle lib, const char* symbol) { return dlsym(lib, symbol); }
void CloseLibrary(LibHandle lib) { dlclose(lib); }
#endif

std::string LibraryName() {
  const char* chosen = std::getenv(kOciLibEnvVar);
  return chosen != nullptr && chosen[0] != '\0' ? std::string(chosen) : std::string(kOciDefaultLib);
}

template <typename Fn>
void Resolve(LibHandle lib, const char* symbol, Fn*& slot, const char*& missing) {
  void* address = FindSymbol(lib, symbol);
  slot = std::bit_cast<Fn*>(address);
  if (address == nullptr && missing == nullptr) missing = symbol;
}

// Returns the first entry point the library lacks, or nullptr.
const char* ResolveAll(LibHandle lib, OciApi& api) {
  const char* missing = nullptr;
  Resolve(lib, "OCIEnvNlsCreate", api.EnvNlsCreate, missing);
  Resolve(lib, "OCIHandleAlloc", api.HandleAlloc, missing);
  Resolve(lib, "OCIHandleFree", api.HandleFree, missing);
  Resolve(lib, "OCILogon", api.Logon, missing);
  Resolve(lib, "OCILogoff", api.Logoff, missing);
  Resolve(lib, "OCIStmtPrepare", api.StmtPrepare, missing);
  Resolve(lib, "OCIAttrSet", api.AttrSet, missing);
  Resolve(lib, "OCIAttrGet", api.AttrGet, missing);
  Resolve(lib, "OCIBindByPos", api.BindByPos, missing);
  Resolve(lib, "OCIDefineByPos", api.DefineByPos, missing);
  Resolve(lib, "OCIStmtExecute", api.StmtExecute, missing);
  Resolve(lib, "OCIStmtFetch2", api.StmtFetch2, missing);
  Resolve(lib, "OCIErrorGet", api.ErrorGet, missing);
  Resolve(lib, "OCITransCommit", api.TransCommit, missing);
  Resolve(lib, "OCITransRollback", api.TransRollback, missing);
  return missing;
}

// The operator reads this on the console of a failed login: which file was
// looked for and how to point at another one. It never names credentials.
void ReportNotLoaded(const std::string& name, const std::string& why) {
  std::printf("Oracle-Client nicht geladen: Bibliothek \"%s\" nicht ladbar (%s).\n",
              name.c_str(), why.c_str());
  std::printf("Oracle Instant Client installieren und sein Verzeichnis in %s aufnehmen "
              "oder %s auf den vollen Pfad der Bibliothek setzen.\n",
              kSearchPathName, kOciLibEnvVar);
  std::fflush(stdout);
}

void ReportIncomplete(const std::string& name, const char* symbol) {
  std::printf("Oracle-Client unvollstaendig: \"%s\" enthaelt %s nicht.\n", name.c_str(), symbol);
  std::printf("%s auf den vollen Pfad der Oracle-Clientbibliothek (%s) setzen.\n",
              kOciLibEnvVar, kOciDefaultLib);
  std::fflush(stdout);
}

}  // namespace

const OciApi* LoadOciLibrary(int32_t& status) {
  status = 0;
  if (g_loaded) return &g_api;

  const std::string name = LibraryName();
  std::string why;
  LibHandle lib = OpenLibrary(name, why);
  if (lib == nullptr) {
    ReportNotLoaded(name, why);
    status = kOraErrClientNotLoaded;
    return nullptr;
  }
  OciApi api{};
  if (const char* missing = ResolveAll(lib, api); missing != nullptr) {
    ReportIncomplete(name, missing);
    CloseLibrary(lib);
    status = kOraErrClientIncomplete;
    return nullptr;
  }
  // The client is never unloaded: it starts threads of its own, and its
  // handles live until the process ends.
  g_api = api;
  g_loaded = true;
  return &g_api;
}

const OciApi& Oci() { return g_api; }
