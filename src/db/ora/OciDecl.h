// The part of the Oracle Call Interface (OCI) that this backend uses, declared
// here from Oracle's public OCI reference: the scalar types, the opaque handle
// types, the constants and the signatures of the fifteen entry points. The
// client library itself is loaded at run time (OciLibrary), so nothing here
// needs Oracle software at build time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oci {

using sword = int32_t;
using ub4 = uint32_t;
using sb4 = int32_t;
using ub2 = uint16_t;
using sb2 = int16_t;
using OraText = unsigned char;

// Opaque handles: only ever used through pointers the library hands out.
struct OCIEnv;
struct OCIError;
struct OCISvcCtx;
struct OCIStmt;
struct OCIBind;
struct OCIDefine;
struct OCISnapshot;

// Return codes of every entry point.
inline constexpr sword OCI_SUCCESS = 0;
inline constexpr sword OCI_SUCCESS_WITH_INFO = 1;
inline constexpr sword OCI_NO_DATA = 100;
inline constexpr sword OCI_ERROR = -1;
inline constexpr sword OCI_INVALID_HANDLE = -2;

inline constexpr ub4 OCI_DEFAULT = 0;

// Handle types.
inline constexpr ub4 OCI_HTYPE_ENV = 1;
inline constexpr ub4 OCI_HTYPE_ERROR = 2;
inline constexpr ub4 OCI_HTYPE_SVCCTX = 3;
inline constexpr ub4 OCI_HTYPE_STMT = 4;

// Statement handle attributes.
inline constexpr ub4 OCI_ATTR_ROW_COUNT = 9;       // ub4: rows processed
inline constexpr ub4 OCI_ATTR_PREFETCH_ROWS = 11;  // ub4: rows per round trip

inline constexpr ub4 OCI_NTV_SYNTAX = 1;       // language of OCIStmtPrepare
inline constexpr ub2 OCI_FETCH_NEXT = 2;       // orientation of OCIStmtFetch2
inline constexpr ub4 OCI_COMMIT_ON_SUCCESS = 0x20;  // never used: named to be checked against

inline constexpr ub2 SQLT_STR = 5;  // external type STRING: NUL-terminated text

// Oracle's character set id of Windows-1252 (WE8MSWIN1252).
inline constexpr ub2 kCharsetWe8MsWin1252 = 178;

using OCIEnvNlsCreateFn = sword(OCIEnv** envp, ub4 mode, void* ctxp,
                                void* (*malocfp)(void* ctxp, size_t size),
                                void* (*ralocfp)(void* ctxp, void* memptr, size_t newsize),
                                void (*mfreefp)(void* ctxp, void* memptr),
                                size_t xtramem_sz, void** usrmempp, ub2 charset,
                                ub2 ncharset);
using OCIHandleAllocFn = sword(const void* parenth, void** hndlpp, ub4 type,
                               size_t xtramem_sz, void** usrmempp);
using OCIHandleFreeFn = sword(void* hndlp, ub4 type);
using OCILogonFn = sword(OCIEnv* envhp, OCIError* errhp, OCISvcCtx** svchp,
                         const OraText* username, ub4 uname_len,
                         const OraText* password, ub4 passwd_len,
                         const OraText* dbname, ub4 dbname_len);
using OCILogoffFn = sword(OCISvcCtx* svchp, OCIError* errhp);
using OCIStmtPrepareFn = sword(OCIStmt* stmtp, OCIError* errhp, const OraText* stmt,
                               ub4 stmt_len, ub4 language, ub4 mode);
using OCIAttrSetFn = sword(void* trgthndlp, ub4 trghndltyp, void* attributep, ub4 size,
                           ub4 attrtype, OCIError* errhp);
using OCIAttrGetFn = sword(const void* trgthndlp, ub4 trghndltyp, void* attributep,
                           ub4* sizep, ub4 attrtype, OCIError* errhp);
using OCIBindByPosFn = sword(OCIStmt* stmtp, OCIBind** bindpp, OCIError* errhp,
                             ub4 position, void* valuep, sb4 value_sz, ub2 dty,
                             void* indp, ub2* alenp, ub2* rcodep, ub4 maxarr_len,
                             ub4* curelep, ub4 mode);
using OCIDefineByPosFn = sword(OCIStmt* stmtp, OCIDefine** defnpp, OCIError* errhp,
                               ub4 position, void* valuep, sb4 value_sz, ub2 dty,
                               void* indp, ub2* rlenp, ub2* rcodep, ub4 mode);
using OCIStmtExecuteFn = sword(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp,
                               ub4 iters, ub4 rowoff, const OCISnapshot* snap_in,
                               OCISnapshot* snap_out, ub4 mode);
using OCIStmtFetch2Fn = sword(OCIStmt* stmtp, OCIError* errhp, ub4 nrows,
                              ub2 orientation, sb4 fetchOffset, ub4 mode);
using OCIErrorGetFn = sword(void* hndlp, ub4 recordno, OraText* sqlstate, sb4* errcodep,
                            OraText* bufp, ub4 bufsiz, ub4 type);
using OCITransCommitFn = sword(OCISvcCtx* svchp, OCIError* errhp, ub4 flags);
using OCITransRollbackFn = sword(OCISvcCtx* svchp, OCIError* errhp, ub4 flags);

}  // namespace oci
