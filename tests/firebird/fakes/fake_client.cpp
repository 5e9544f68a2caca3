// A stand-in client library for the tests: exports a chosen set of the client
// API's entry points and forwards each to the real libfbclient.so.2, so that a
// binding to it can still attach to a real database. Compile definitions
// choose what it lacks:
//   FAKE_NO_GENERATION   no isc_rollback_retaining and none of its group
//   FAKE_VERSION_MARKER  isc_get_client_version/major/minor, answering 7.3
//   FAKE_OMIT_<name>     leaves out that one entry point
// The test can also script an engine error (fake_script_error): the next
// isc_attach_database then fails and isc_sqlcode, isc_sql_interprete and
// isc_interprete answer from the script.

#include <dlfcn.h>
#include <ibase.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

// Entry points forwarded by a jump through a pointer that the constructor
// fills from the real library: the jump leaves every argument register as it
// was, so one stub serves every signature.
#define FAKE_FORWARD(name)                                                        \
    extern "C" __attribute__((visibility("hidden"))) void* fake_real_##name;      \
    void* fake_real_##name = nullptr;                                             \
    asm(".pushsection .text\n.globl " #name "\n.type " #name ",@function\n" #name \
        ":\n\tjmp *fake_real_" #name "(%rip)\n.size " #name ",.-" #name "\n.popsection\n");
#define FAKE_LOOKUP(name) fake_real_##name = dlsym(real, #name);

// clang-format off
#define FAKE_ALWAYS(X) \
    X(BLOB_get) X(BLOB_put) X(isc_vax_integer) X(isc_blob_info) X(isc_open_blob2) \
    X(isc_close_blob) X(isc_get_segment) X(isc_put_segment) X(isc_create_blob2) \
    X(isc_decode_date) X(isc_encode_date) X(isc_dsql_free_statement) X(isc_dsql_execute2) \
    X(isc_dsql_execute) X(isc_dsql_set_cursor_name) X(isc_dsql_fetch) X(isc_dsql_sql_info) \
    X(isc_dsql_alloc_statement2) X(isc_dsql_describe_bind) X(isc_dsql_describe) \
    X(isc_dsql_execute_immediate) X(isc_dsql_exec_immed2) X(isc_drop_database) \
    X(isc_detach_database) X(isc_start_multiple) \
    X(isc_commit_transaction) X(isc_commit_retaining) X(isc_rollback_transaction) \
    X(isc_cancel_events) X(isc_que_events) X(isc_event_counts) X(isc_event_block) X(isc_free) \
    X(isc_array_lookup_bounds) X(isc_array_get_slice) X(isc_array_put_slice) \
    X(isc_wait_for_event) X(isc_transaction_info) X(isc_prepare_transaction) \
    X(isc_prepare_transaction2)
#define FAKE_GENERATION(X) \
    X(isc_rollback_retaining) X(isc_service_attach) X(isc_service_detach) X(isc_service_start) \
    X(isc_decode_sql_date) X(isc_decode_sql_time) X(isc_decode_timestamp) \
    X(isc_encode_sql_date) X(isc_encode_sql_time) X(isc_encode_timestamp) \
    X(isc_portable_integer)
// clang-format on

FAKE_ALWAYS(FAKE_FORWARD)
#ifndef FAKE_OMIT_isc_dsql_prepare
FAKE_FORWARD(isc_dsql_prepare)
#endif
#ifndef FAKE_NO_GENERATION
FAKE_GENERATION(FAKE_FORWARD)
#ifndef FAKE_OMIT_isc_service_query
FAKE_FORWARD(isc_service_query)
#endif
#endif

namespace {

void* real = nullptr;

using AttachFn = ISC_STATUS (*)(ISC_STATUS*, short, const ISC_SCHAR*, isc_db_handle*, short,
                                const ISC_SCHAR*);
using SqlCodeFn = ISC_LONG (*)(const ISC_STATUS*);
using SqlInterpreteFn = void (*)(short, ISC_SCHAR*, short);
using InterpreteFn = ISC_LONG (*)(ISC_SCHAR*, ISC_STATUS**);
using DatabaseInfoFn = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*, short, const ISC_SCHAR*, short,
                                      ISC_SCHAR*);

AttachFn realAttach = nullptr;
SqlCodeFn realSqlCode = nullptr;
SqlInterpreteFn realSqlInterprete = nullptr;
InterpreteFn realInterprete = nullptr;
DatabaseInfoFn realDatabaseInfo = nullptr;

// The scripted error: its engine codes start here, one per message.
constexpr ISC_STATUS kScriptBase = 0x7F000000;
constexpr int kMaxMessages = 9;

bool scripted = false;
int scriptMode = 0;  // 0 normal, 1 renderer never advances, 2 renderer jumps far
ISC_LONG scriptSqlCode = 0;
std::string scriptSqlText;
std::vector<std::string> scriptMessages;
std::vector<std::string> scriptedInfo;

__attribute__((constructor)) void LoadReal() {
    real = dlopen("libfbclient.so.2", RTLD_NOW | RTLD_LOCAL);
    if (real == nullptr) return;
    FAKE_ALWAYS(FAKE_LOOKUP)
#ifndef FAKE_OMIT_isc_dsql_prepare
    FAKE_LOOKUP(isc_dsql_prepare)
#endif
#ifndef FAKE_NO_GENERATION
    FAKE_GENERATION(FAKE_LOOKUP)
#ifndef FAKE_OMIT_isc_service_query
    FAKE_LOOKUP(isc_service_query)
#endif
#endif
    realAttach = reinterpret_cast<AttachFn>(dlsym(real, "isc_attach_database"));
    realSqlCode = reinterpret_cast<SqlCodeFn>(dlsym(real, "isc_sqlcode"));
    realSqlInterprete = reinterpret_cast<SqlInterpreteFn>(dlsym(real, "isc_sql_interprete"));
    realInterprete = reinterpret_cast<InterpreteFn>(dlsym(real, "isc_interprete"));
    realDatabaseInfo = reinterpret_cast<DatabaseInfoFn>(dlsym(real, "isc_database_info"));
}

bool IsScriptedVector(const ISC_STATUS* s) {
    return s != nullptr && s[0] == isc_arg_gds && s[1] >= kScriptBase &&
           s[1] < kScriptBase + kMaxMessages;
}

}  // namespace

// Scripts the next attach to fail: the SQL code, the SQL text and the engine
// messages (one status cluster each, at most 9). mode 1 makes the renderer
// report a message without moving on; mode 2 makes it jump far past the end.
FAKE_EXPORT void fake_script_error(long sqlCode, const char* sqlText, const char* const* messages,
                                   int count, int mode) {
    scripted = true;
    scriptMode = mode;
    scriptSqlCode = static_cast<ISC_LONG>(sqlCode);
    scriptSqlText = sqlText != nullptr ? sqlText : "";
    scriptMessages.clear();
    for (int i = 0; i < count && i < kMaxMessages; ++i) scriptMessages.emplace_back(messages[i]);
}

FAKE_EXPORT void fake_clear_script() {
    scripted = false;
    scriptedInfo.clear();
}

// The next isc_database_info that asks for the item answers with these bytes
// (cut to the caller's buffer) instead of asking the server. Answers for
// several items may wait at once.
FAKE_EXPORT void fake_script_info(int item, const unsigned char* bytes, int length) {
    std::string entry(1, static_cast<char>(item));
    entry.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
    scriptedInfo.push_back(entry);
}

FAKE_EXPORT ISC_STATUS isc_database_info(ISC_STATUS* status, isc_db_handle* handle,
                                         short itemLength, const ISC_SCHAR* items,
                                         short bufferLength, ISC_SCHAR* buffer) {
    auto it = std::find_if(scriptedInfo.begin(), scriptedInfo.end(), [&](const std::string& a) {
        return itemLength >= 1 && !a.empty() && a[0] == items[0];
    });
    if (it == scriptedInfo.end()) {
        return realDatabaseInfo(status, handle, itemLength, items, bufferLength, buffer);
    }
    const std::size_t n = std::min(it->size() - 1, static_cast<std::size_t>(bufferLength));
    std::memcpy(buffer, it->data() + 1, n);
    scriptedInfo.erase(it);
    status[0] = isc_arg_gds;
    status[1] = 0;
    status[2] = isc_arg_end;
    return 0;
}

FAKE_EXPORT ISC_STATUS isc_attach_database(ISC_STATUS* status, short nameLength,
                                           const ISC_SCHAR* name, isc_db_handle* handle,
                                           short dpbLength, const ISC_SCHAR* dpb) {
    if (!scripted) return realAttach(status, nameLength, name, handle, dpbLength, dpb);
    int at = 0;
    for (std::size_t i = 0; i < scriptMessages.size(); ++i) {
        status[at++] = isc_arg_gds;
        status[at++] = kScriptBase + static_cast<ISC_STATUS>(i);
    }
    if (scriptMessages.empty()) {
        status[at++] = isc_arg_gds;
        status[at++] = kScriptBase;
    }
    status[at] = isc_arg_end;
    return status[1];
}

FAKE_EXPORT ISC_LONG isc_sqlcode(const ISC_STATUS* status) {
    if (scripted && IsScriptedVector(status)) return scriptSqlCode;
    return realSqlCode(status);
}

FAKE_EXPORT void isc_sql_interprete(short code, ISC_SCHAR* buffer, short length) {
    if (!scripted) return realSqlInterprete(code, buffer, length);
    if (length <= 0) return;
    const std::size_t n =
        std::min<std::size_t>(scriptSqlText.size(), static_cast<std::size_t>(length - 1));
    std::memcpy(buffer, scriptSqlText.data(), n);
    buffer[n] = '\0';
}

FAKE_EXPORT ISC_LONG isc_interprete(ISC_SCHAR* buffer, ISC_STATUS** cursor) {
    if (!scripted) return realInterprete(buffer, cursor);
    const ISC_STATUS* s = *cursor;
    if (s[0] != isc_arg_gds || !IsScriptedVector(s)) return 0;
    const auto index = static_cast<std::size_t>(s[1] - kScriptBase);
    const std::string& text = index < scriptMessages.size() ? scriptMessages[index] : std::string();
    std::strcpy(buffer, text.c_str());
    if (scriptMode == 1) return 1;
    if (scriptMode == 2) {
        *cursor += 1000;
        return 1;
    }
    *cursor += 2;
    // Reports a message even when it is empty, so that the caller must skip it.
    return 1;
}

#ifdef FAKE_VERSION_MARKER
FAKE_EXPORT void isc_get_client_version(char* buffer) { std::strcpy(buffer, "Fake client 7.3"); }
FAKE_EXPORT int isc_get_client_major_version() { return 7; }
#ifndef FAKE_OMIT_isc_get_client_minor_version
FAKE_EXPORT int isc_get_client_minor_version() { return 3; }
#endif
#endif
