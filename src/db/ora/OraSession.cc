#include "db/ora/OraSession.h"

#include <array>

#include "db/SqlRuntime.h"
#include "db/ora/OraStatus.h"

using namespace oci;

namespace {

const OraText* AsOraText(std::string_view text) {
  return reinterpret_cast<const OraText*>(text.data());
}

int32_t LogOn(const OciApi& api, OraSession& s, std::string_view user,
              std::string_view password, std::string_view service) {
  // Texts travel as Windows-1252 whatever NLS_LANG says, so the bytes of the
  // export file do not depend on the client's settings.
  OCIEnv* env = nullptr;
  sword rc = api.EnvNlsCreate(&env, OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr, 0,
                              nullptr, kCharsetWe8MsWin1252, kCharsetWe8MsWin1252);
  s.env.reset(env);
  if (rc != OCI_SUCCESS || env == nullptr) return kOraErrEnvironment;

  void* error = nullptr;
  rc = api.HandleAlloc(env, &error, OCI_HTYPE_ERROR, 0, nullptr);
  s.error.reset(static_cast<OCIError*>(error));
  if (rc != OCI_SUCCESS || error == nullptr) return kOraErrEnvironment;

  OCISvcCtx* service_context = nullptr;
  rc = api.Logon(env, s.error.get(), &service_context, AsOraText(user),
                 static_cast<ub4>(user.size()), AsOraText(password),
                 static_cast<ub4>(password.size()), AsOraText(service),
                 static_cast<ub4>(service.size()));
  const int32_t status = OraStatus(rc, s.error.get());
  // A logon never ends in "no data"; anything but success is an error.
  if (status != 0) return status < 0 ? status : kOraErrNoOraNumber;
  s.logon.Set(service_context, s.error.get());
  return 0;
}

}  // namespace

void OraSession::Abandon() {
  (void)cursor.stmt.release();
  for (auto& entry : fixed) (void)entry.second.release();
  (void)dynamic.release();
  logon.Release();
  (void)error.release();
  (void)env.release();
}

int32_t OraStatus(sword rc, OCIError* error) {
  if (rc == OCI_SUCCESS || rc == OCI_SUCCESS_WITH_INFO) return 0;
  if (rc == OCI_NO_DATA) return kSqlNotFound;
  sb4 ora = 0;
  std::array<OraText, 512> message{};
  if (error != nullptr &&
      Oci().ErrorGet(error, 1, nullptr, &ora, message.data(),
                     static_cast<ub4>(message.size()), OCI_HTYPE_ERROR) == OCI_SUCCESS &&
      ora > 0) {
    return -ora;
  }
  return kOraErrNoOraNumber;
}

int32_t OpenOraSession(std::optional<OraSession>& session, std::string_view user,
                       std::string_view password, std::string_view service) {
  session.reset();
  int32_t status = 0;
  const OciApi* api = LoadOciLibrary(status);
  if (api == nullptr) return status;

  // Built in place; a failure ends it again, freeing what was made.
  session.emplace();
  status = LogOn(*api, *session, user, password, service);
  if (status != 0) session.reset();
  return status;
}
