// Loads the Oracle client library at run time and resolves the entry points
// the backend calls, so that the program builds and starts on machines
// without Oracle software.
//
// The library is the file named by the environment variable MORVASK_OCI_LIB
// (a full path) or else the default name, found through the dynamic loader's
// search path. Once loaded it stays loaded for the life of the process.
#pragma once

#include <cstdint>

#include "db/ora/OciDecl.h"

struct OciApi {
  oci::OCIEnvNlsCreateFn* EnvNlsCreate;
  oci::OCIHandleAllocFn* HandleAlloc;
  oci::OCIHandleFreeFn* HandleFree;
  oci::OCILogonFn* Logon;
  oci::OCILogoffFn* Logoff;
  oci::OCIStmtPrepareFn* StmtPrepare;
  oci::OCIAttrSetFn* AttrSet;
  oci::OCIAttrGetFn* AttrGet;
  oci::OCIBindByPosFn* BindByPos;
  oci::OCIDefineByPosFn* DefineByPos;
  oci::OCIStmtExecuteFn* StmtExecute;
  oci::OCIStmtFetch2Fn* StmtFetch2;
  oci::OCIErrorGetFn* ErrorGet;
  oci::OCITransCommitFn* TransCommit;
  oci::OCITransRollbackFn* TransRollback;
};

inline constexpr const char* kOciLibEnvVar = "MORVASK_OCI_LIB";

#ifdef _WIN32
inline constexpr const char* kOciDefaultLib = "oci.dll";
#else
inline constexpr const char* kOciDefaultLib = "libclntsh.so";
#endif

// The entry points of the loaded client, or nullptr when it cannot be loaded.
// On failure status is kOraErrClientNotLoaded or kOraErrClientIncomplete and
// the console has been told which library was looked for and how to point
// at another one.
const OciApi* LoadOciLibrary(int32_t& status);

// The loaded client's entry points; only valid after LoadOciLibrary succeeded.
const OciApi& Oci();
