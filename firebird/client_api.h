#pragma once

// The typed entry-point table of a client library binding. Includes Firebird's
// ibase.h: for the .cpp files of the access layer only.

#include <ibase.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include "firebird/binding.h"

static_assert(std::is_same_v<ISC_STATUS, qm::FbStatus>, "FbStatus must be ISC_STATUS");
static_assert(std::is_same_v<FB_API_HANDLE, qm::FbHandle>, "FbHandle must be FB_API_HANDLE");
static_assert(ISC_STATUS_LENGTH == qm::kStatusVectorLength);

namespace qm {

// Entry points that ibase.h of this client generation does not declare; their
// signatures are those the client libraries that export them publish.
using isc_dsql_batch_execute_immed_fn = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                                       unsigned short dialect, ISC_ULONG count,
                                                       char** statements, ISC_ULONG* rowsAffected);
using isc_dsql_batch_execute_fn = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*,
                                                 unsigned short dialect, XSQLDA* inSqlda,
                                                 unsigned short rows, XSQLVAR** batchVars,
                                                 ISC_ULONG* rowsAffected);

// The entry points in the order they are resolved, by group.
// clang-format off
// Group 1: always required.
#define QM_FB_REQUIRED_ENTRIES(X) \
    X(BLOB_get) \
    X(BLOB_put) \
    X(isc_sqlcode) \
    X(isc_sql_interprete) \
    X(isc_interprete) \
    X(isc_vax_integer) \
    X(isc_blob_info) \
    X(isc_open_blob2) \
    X(isc_close_blob) \
    X(isc_get_segment) \
    X(isc_put_segment) \
    X(isc_create_blob2) \
    X(isc_decode_date) \
    X(isc_encode_date) \
    X(isc_dsql_free_statement) \
    X(isc_dsql_execute2) \
    X(isc_dsql_execute) \
    X(isc_dsql_set_cursor_name) \
    X(isc_dsql_fetch) \
    X(isc_dsql_sql_info) \
    X(isc_dsql_alloc_statement2) \
    X(isc_dsql_prepare) \
    X(isc_dsql_describe_bind) \
    X(isc_dsql_describe) \
    X(isc_dsql_execute_immediate) \
    X(isc_dsql_exec_immed2) \
    X(isc_drop_database) \
    X(isc_detach_database) \
    X(isc_attach_database) \
    X(isc_database_info) \
    X(isc_start_multiple) \
    X(isc_commit_transaction) \
    X(isc_commit_retaining) \
    X(isc_rollback_transaction) \
    X(isc_cancel_events) \
    X(isc_que_events) \
    X(isc_event_counts) \
    X(isc_event_block) \
    X(isc_free) \
    X(isc_array_lookup_bounds) \
    X(isc_array_get_slice) \
    X(isc_array_put_slice) \
    X(isc_wait_for_event) \
    X(isc_transaction_info) \
    X(isc_prepare_transaction) \
    X(isc_prepare_transaction2)
// Group 2: the generation marker.
#define QM_FB_GENERATION_MARKER(X) X(isc_rollback_retaining)
// Group 3: required when the generation marker is present.
#define QM_FB_GENERATION_ENTRIES(X) \
    X(isc_service_attach) \
    X(isc_service_detach) \
    X(isc_service_query) \
    X(isc_service_start) \
    X(isc_decode_sql_date) \
    X(isc_decode_sql_time) \
    X(isc_decode_timestamp) \
    X(isc_encode_sql_date) \
    X(isc_encode_sql_time) \
    X(isc_encode_timestamp) \
    X(isc_portable_integer)
// Group 4: the version marker.
#define QM_FB_VERSION_MARKER(X) X(isc_get_client_version)
// Group 5: required when the version marker is present.
#define QM_FB_VERSION_ENTRIES(X) \
    X(isc_get_client_major_version) \
    X(isc_get_client_minor_version)
// Group 6: optional when the version marker is present.
#define QM_FB_VERSION_OPTIONAL_ENTRIES(X) \
    X(isc_dsql_batch_execute_immed) \
    X(isc_dsql_batch_execute) \
    X(fb_cancel_operation)
// clang-format on

// The pointer type of an entry point: the type of ibase.h's declaration.
#define QM_FB_ENTRY_TYPE(name) decltype(&::name)

// Raises EFbLibraryError "Can't find procedure <entry> in <library>".
[[noreturn]] void RaiseMissingEntryPoint(const char* entry, const std::string& libraryName);

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

// The resolved entry points of one binding. Each is called through the member
// function of its own name, which takes the entry point's own parameters and
// returns its own result. The always-required ones are never null; a call of
// an optional one that the library lacks raises EFbLibraryError.
struct FbClientApi {
    std::string libraryName;

#define QM_FB_POINTER(name) QM_FB_ENTRY_TYPE(name) p_##name = nullptr;
    QM_FB_REQUIRED_ENTRIES(QM_FB_POINTER)
    QM_FB_GENERATION_MARKER(QM_FB_POINTER)
    QM_FB_GENERATION_ENTRIES(QM_FB_POINTER)
    QM_FB_VERSION_MARKER(QM_FB_POINTER)
    QM_FB_VERSION_ENTRIES(QM_FB_POINTER)
#undef QM_FB_POINTER
    isc_dsql_batch_execute_immed_fn p_isc_dsql_batch_execute_immed = nullptr;
    isc_dsql_batch_execute_fn p_isc_dsql_batch_execute = nullptr;
    QM_FB_ENTRY_TYPE(fb_cancel_operation) p_fb_cancel_operation = nullptr;

#define QM_FB_CALL(name)                        \
    template <class... A>                       \
    auto name(A&&... a) const {                 \
        return p_##name(std::forward<A>(a)...); \
    }
#define QM_FB_CHECKED_CALL(name)                                             \
    template <class... A>                                                    \
    auto name(A&&... a) const {                                              \
        if (p_##name == nullptr) RaiseMissingEntryPoint(#name, libraryName); \
        return p_##name(std::forward<A>(a)...);                              \
    }
    QM_FB_REQUIRED_ENTRIES(QM_FB_CALL)
    QM_FB_GENERATION_MARKER(QM_FB_CHECKED_CALL)
    QM_FB_GENERATION_ENTRIES(QM_FB_CHECKED_CALL)
    QM_FB_VERSION_MARKER(QM_FB_CHECKED_CALL)
    QM_FB_VERSION_ENTRIES(QM_FB_CHECKED_CALL)
    QM_FB_VERSION_OPTIONAL_ENTRIES(QM_FB_CHECKED_CALL)
#undef QM_FB_CALL
#undef QM_FB_CHECKED_CALL

    bool HasRollbackRetaining() const { return p_isc_rollback_retaining != nullptr; }
};

#pragma GCC diagnostic pop

}  // namespace qm
