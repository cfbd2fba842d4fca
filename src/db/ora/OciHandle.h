// Owners for the client's handles: each frees its handle through the loaded
// library when it goes out of scope.
#pragma once

#include <memory>

#include "db/ora/OciDecl.h"
#include "db/ora/OciLibrary.h"

template <oci::ub4 kHandleType>
struct OciHandleFree {
  void operator()(void* handle) const { Oci().HandleFree(handle, kHandleType); }
};

template <typename T, oci::ub4 kHandleType>
using OciHandle = std::unique_ptr<T, OciHandleFree<kHandleType>>;

using EnvHandle = OciHandle<oci::OCIEnv, oci::OCI_HTYPE_ENV>;
using ErrorHandle = OciHandle<oci::OCIError, oci::OCI_HTYPE_ERROR>;
using StmtHandle = OciHandle<oci::OCIStmt, oci::OCI_HTYPE_STMT>;

// A logged-on service context. Ending it rolls back first: whatever was not
// committed explicitly must never become durable by a logoff.
class OciLogon {
 public:
  OciLogon() = default;
  OciLogon(const OciLogon&) = delete;
  OciLogon& operator=(const OciLogon&) = delete;
  ~OciLogon() { End(); }

  void Set(oci::OCISvcCtx* service, oci::OCIError* error) {
    End();
    service_ = service;
    error_ = error;
  }
  oci::OCISvcCtx* get() const { return service_; }
  // Forgets the context without a call into the client.
  void Release() { service_ = nullptr; }

 private:
  void End() {
    if (service_ == nullptr) return;
    Oci().TransRollback(service_, error_, oci::OCI_DEFAULT);
    Oci().Logoff(service_, error_);
    service_ = nullptr;
  }

  oci::OCISvcCtx* service_ = nullptr;
  oci::OCIError* error_ = nullptr;
};
