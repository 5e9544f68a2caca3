// A client library for the maintenance operations' fault tests: every entry
// point the binding needs, each forwarded to the real libfbclient.so.2 (so the
// embedded engine does the real work), with faults the test arms through the
// fault_* controls:
//   fault_fail_service_attach(n)  the n-th isc_service_attach to the local
//                                 service manager from now fails as one that
//                                 cannot be reached (the program's question
//                                 whether a server runs is not counted)
//   fault_add_output_line(a, s)   the next action a (1 backup, 2 restore,
//                                 3 validation) reports the line s first
//   fault_reset()                 no faults armed

#include <dlfcn.h>
#include <ibase.h>

#include <cerrno>
#include <cstring>
#include <string>

#define FAULT_EXPORT extern "C" __attribute__((visibility("default")))

// An entry point forwarded by a jump through a pointer that the constructor
// fills from the real library: the jump leaves every argument register as it
// was, so one stub serves every signature.
#if defined(__x86_64__)
#define FAULT_JUMP(name) "\tjmp *fault_real_" #name "(%rip)\n"
#elif defined(__aarch64__)
#define FAULT_JUMP(name)                                                         \
    "\tadrp x16, fault_real_" #name "\n\tldr x16, [x16, :lo12:fault_real_" #name \
    "]\n"                                                                        \
    "\tbr x16\n"
#else
#error "the forwarding stubs know x86-64 and AArch64 only"
#endif
#define FAULT_FORWARD(name)                                                       \
    extern "C" __attribute__((visibility("hidden"))) void* fault_real_##name;     \
    void* fault_real_##name = nullptr;                                            \
    asm(".pushsection .text\n.globl " #name "\n.type " #name ",@function\n" #name \
        ":\n" FAULT_JUMP(name) ".size " #name ",.-" #name "\n.popsection\n");
#define FAULT_LOOKUP(name) fault_real_##name = dlsym(real, #name);

// clang-format off
#define FAULT_FORWARDED(X) \
    X(BLOB_get) X(BLOB_put) X(isc_sqlcode) X(isc_sql_interprete) X(isc_interprete) \
    X(isc_vax_integer) X(isc_blob_info) X(isc_open_blob2) X(isc_close_blob) \
    X(isc_get_segment) X(isc_put_segment) X(isc_create_blob2) X(isc_decode_date) \
    X(isc_encode_date) X(isc_dsql_free_statement) X(isc_dsql_execute2) X(isc_dsql_execute) \
    X(isc_dsql_set_cursor_name) X(isc_dsql_fetch) X(isc_dsql_sql_info) \
    X(isc_dsql_alloc_statement2) X(isc_dsql_prepare) X(isc_dsql_describe_bind) \
    X(isc_dsql_describe) X(isc_dsql_execute_immediate) X(isc_dsql_exec_immed2) \
    X(isc_drop_database) X(isc_detach_database) X(isc_attach_database) X(isc_database_info) \
    X(isc_start_multiple) X(isc_commit_transaction) X(isc_commit_retaining) \
    X(isc_rollback_transaction) X(isc_cancel_events) X(isc_que_events) X(isc_event_counts) \
    X(isc_event_block) X(isc_free) X(isc_array_lookup_bounds) X(isc_array_get_slice) \
    X(isc_array_put_slice) X(isc_wait_for_event) X(isc_transaction_info) \
    X(isc_prepare_transaction) X(isc_prepare_transaction2) X(isc_rollback_retaining) \
    X(isc_service_detach) X(isc_decode_sql_date) X(isc_decode_sql_time) \
    X(isc_decode_timestamp) X(isc_encode_sql_date) X(isc_encode_sql_time) \
    X(isc_encode_timestamp) X(isc_portable_integer)
// clang-format on

FAULT_FORWARDED(FAULT_FORWARD)

namespace {

using ServiceAttachFn = ISC_STATUS (*)(ISC_STATUS*, unsigned short, const ISC_SCHAR*,
                                       isc_svc_handle*, unsigned short, const ISC_SCHAR*);
using ServiceStartFn = ISC_STATUS (*)(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*,
                                      unsigned short, const ISC_SCHAR*);
using ServiceQueryFn = ISC_STATUS (*)(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*,
                                      unsigned short, const ISC_SCHAR*, unsigned short,
                                      const ISC_SCHAR*, unsigned short, ISC_SCHAR*);

void* real = nullptr;
ServiceAttachFn realServiceAttach = nullptr;
ServiceStartFn realServiceStart = nullptr;
ServiceQueryFn realServiceQuery = nullptr;

int attachesUntilFailure = 0;  // 0: none armed
int lineAction = 0;            // 0: none armed
std::string lineText;
isc_svc_handle lineHandle = 0;  // the service whose next answer is the line

__attribute__((constructor)) void LoadReal() {
    real = dlopen("libfbclient.so.2", RTLD_NOW | RTLD_LOCAL);
    if (real == nullptr) return;
    FAULT_FORWARDED(FAULT_LOOKUP)
    realServiceAttach = reinterpret_cast<ServiceAttachFn>(dlsym(real, "isc_service_attach"));
    realServiceStart = reinterpret_cast<ServiceStartFn>(dlsym(real, "isc_service_start"));
    realServiceQuery = reinterpret_cast<ServiceQueryFn>(dlsym(real, "isc_service_query"));
}

void Succeed(ISC_STATUS* status) {
    status[0] = isc_arg_gds;
    status[1] = 0;
    status[2] = isc_arg_end;
}

}  // namespace

FAULT_EXPORT void fault_reset() {
    attachesUntilFailure = 0;
    lineAction = 0;
    lineText.clear();
    lineHandle = 0;
}

FAULT_EXPORT void fault_fail_service_attach(int nth) { attachesUntilFailure = nth; }

FAULT_EXPORT void fault_add_output_line(int action, const char* text) {
    lineAction = action;
    lineText = text;
    lineHandle = 0;
}

FAULT_EXPORT ISC_STATUS isc_service_attach(ISC_STATUS* status, unsigned short nameLength,
                                           const ISC_SCHAR* name, isc_svc_handle* handle,
                                           unsigned short spbLength, const ISC_SCHAR* spb) {
    const bool local = std::memchr(name, ':', nameLength) == nullptr;
    if (local && attachesUntilFailure > 0 && --attachesUntilFailure == 0) {
        // What the client reports when nothing answers on the server's port.
        static const char host[] = "localhost";
        int at = 0;
        status[at++] = isc_arg_gds;
        status[at++] = isc_network_error;
        status[at++] = isc_arg_string;
        status[at++] = reinterpret_cast<ISC_STATUS>(host);
        status[at++] = isc_arg_gds;
        status[at++] = isc_net_connect_err;
        status[at++] = isc_arg_unix;
        status[at++] = ECONNREFUSED;
        status[at] = isc_arg_end;
        return status[1];
    }
    return realServiceAttach(status, nameLength, name, handle, spbLength, spb);
}

FAULT_EXPORT ISC_STATUS isc_service_start(ISC_STATUS* status, isc_svc_handle* handle,
                                          isc_resv_handle* reserved, unsigned short length,
                                          const ISC_SCHAR* request) {
    const ISC_STATUS rc = realServiceStart(status, handle, reserved, length, request);
    if (rc == 0 && lineAction != 0 && length > 0 &&
        static_cast<unsigned char>(request[0]) == lineAction) {
        lineAction = 0;
        lineHandle = *handle;
    }
    return rc;
}

FAULT_EXPORT ISC_STATUS isc_service_query(ISC_STATUS* status, isc_svc_handle* handle,
                                          isc_resv_handle* reserved, unsigned short sendLength,
                                          const ISC_SCHAR* send, unsigned short requestLength,
                                          const ISC_SCHAR* request, unsigned short bufferLength,
                                          ISC_SCHAR* buffer) {
    if (lineHandle != 0 && *handle == lineHandle && bufferLength >= lineText.size() + 4) {
        lineHandle = 0;
        const std::size_t n = lineText.size();
        buffer[0] = isc_info_svc_line;
        buffer[1] = static_cast<ISC_SCHAR>(n & 0xFF);
        buffer[2] = static_cast<ISC_SCHAR>((n >> 8) & 0xFF);
        std::memcpy(buffer + 3, lineText.data(), n);
        buffer[n + 3] = isc_info_end;
        Succeed(status);
        return 0;
    }
    return realServiceQuery(status, handle, reserved, sendLength, send, requestLength, request,
                            bufferLength, buffer);
}
