/* A client library with the entry points the binding requires and service
 * functions that answer from a script the test sets up: the queries return
 * chosen byte sequences, and any service call can be made to fail once. It
 * records what it was sent. Built without FAKE_WITH_SERVICES it lacks the
 * generation marker and with it every service function. */

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

typedef intptr_t ISC_STATUS;
typedef unsigned int FB_API_HANDLE;

#define EXPORT __attribute__((visibility("default")))

// Entry points the binding resolves but the services client never calls.
#define FAKE_UNUSED_ENTRIES(X)    \
    X(BLOB_get)                   \
    X(BLOB_put)                   \
    X(isc_vax_integer)            \
    X(isc_blob_info)              \
    X(isc_open_blob2)             \
    X(isc_close_blob)             \
    X(isc_get_segment)            \
    X(isc_put_segment)            \
    X(isc_create_blob2)           \
    X(isc_decode_date)            \
    X(isc_encode_date)            \
    X(isc_dsql_free_statement)    \
    X(isc_dsql_execute2)          \
    X(isc_dsql_execute)           \
    X(isc_dsql_set_cursor_name)   \
    X(isc_dsql_fetch)             \
    X(isc_dsql_sql_info)          \
    X(isc_dsql_alloc_statement2)  \
    X(isc_dsql_prepare)           \
    X(isc_dsql_describe_bind)     \
    X(isc_dsql_describe)          \
    X(isc_dsql_execute_immediate) \
    X(isc_dsql_exec_immed2)       \
    X(isc_drop_database)          \
    X(isc_detach_database)        \
    X(isc_attach_database)        \
    X(isc_database_info)          \
    X(isc_start_multiple)         \
    X(isc_commit_transaction)     \
    X(isc_commit_retaining)       \
    X(isc_rollback_transaction)   \
    X(isc_cancel_events)          \
    X(isc_que_events)             \
    X(isc_event_counts)           \
    X(isc_event_block)            \
    X(isc_free)                   \
    X(isc_array_lookup_bounds)    \
    X(isc_array_get_slice)        \
    X(isc_array_put_slice)        \
    X(isc_wait_for_event)         \
    X(isc_transaction_info)       \
    X(isc_prepare_transaction)    \
    X(isc_prepare_transaction2)

// The rest of the generation that has the service functions.
#define FAKE_GENERATION_ENTRIES(X) \
    X(isc_rollback_retaining)      \
    X(isc_decode_sql_date)         \
    X(isc_decode_sql_time)         \
    X(isc_decode_timestamp)        \
    X(isc_encode_sql_date)         \
    X(isc_encode_sql_time)         \
    X(isc_encode_timestamp)        \
    X(isc_portable_integer)

#define FAKE_STUB(name) \
    EXPORT ISC_STATUS name(void) { return 0; }

FAKE_UNUSED_ENTRIES(FAKE_STUB)

/* --- error rendering ---------------------------------------------------- */

enum { kArgEnd = 0, kArgGds = 1 };

EXPORT int isc_sqlcode(const ISC_STATUS* status) {
    return status[0] == kArgGds && status[1] != 0 ? -902 : 0;
}

EXPORT void isc_sql_interprete(short code, char* buffer, short length) {
    if (length > 0) snprintf(buffer, (size_t)length, "fake sql error %d", code);
}

/* Renders one cluster (arg_gds, code) and moves past it. */
EXPORT int isc_interprete(char* buffer, ISC_STATUS** cursor) {
    const ISC_STATUS* v = *cursor;
    if (v[0] != kArgGds || v[1] == 0) return 0;
    int n = sprintf(buffer, "fake engine error %ld", (long)v[1]);
    *cursor += 2;
    return n;
}

#ifdef FAKE_WITH_SERVICES

FAKE_GENERATION_ENTRIES(FAKE_STUB)

/* --- the script ----------------------------------------------------------- */

enum { kMaxAnswers = 16, kMaxBytes = 70000 };

static unsigned char answers[kMaxAnswers][kMaxBytes];
static int answerLength[kMaxAnswers];
static int answerCount;
static int answerNext;

static char failCall[32];
static long failCode;

static unsigned char lastAttachRequest[kMaxBytes];
static int lastAttachLength;
static unsigned char lastStartRequest[kMaxBytes];
static int lastStartLength;
static char lastServiceName[1024];
static int lastBufferLength;
static int attachCalls, detachCalls, startCalls, queryCalls;

EXPORT void fake_reset(void) {
    answerCount = answerNext = 0;
    failCall[0] = 0;
    lastAttachLength = lastStartLength = lastBufferLength = 0;
    lastServiceName[0] = 0;
    attachCalls = detachCalls = startCalls = queryCalls = 0;
}

/* Queues the next answer of isc_service_query. Without one queued, a query
 * answers an empty line (the end of the output). */
EXPORT void fake_push_answer(const unsigned char* bytes, int length) {
    if (answerCount >= kMaxAnswers || length < 0 || length > kMaxBytes) return;
    memcpy(answers[answerCount], bytes, (size_t)length);
    answerLength[answerCount++] = length;
}

/* The next call of the named service function fails with the engine code. */
EXPORT void fake_fail_next(const char* call, long code) {
    snprintf(failCall, sizeof failCall, "%s", call);
    failCode = code;
}

static int CopyOut(const unsigned char* from, int length, unsigned char* out, int capacity) {
    if (out != NULL && length <= capacity) memcpy(out, from, (size_t)length);
    return length;
}

EXPORT int fake_last_attach_request(unsigned char* out, int capacity) {
    return CopyOut(lastAttachRequest, lastAttachLength, out, capacity);
}
EXPORT int fake_last_start_request(unsigned char* out, int capacity) {
    return CopyOut(lastStartRequest, lastStartLength, out, capacity);
}
EXPORT const char* fake_last_service_name(void) { return lastServiceName; }
EXPORT int fake_last_buffer_length(void) { return lastBufferLength; }
EXPORT int fake_calls(const char* call) {
    if (strcmp(call, "isc_service_attach") == 0) return attachCalls;
    if (strcmp(call, "isc_service_detach") == 0) return detachCalls;
    if (strcmp(call, "isc_service_start") == 0) return startCalls;
    if (strcmp(call, "isc_service_query") == 0) return queryCalls;
    return -1;
}

/* --- the service functions ------------------------------------------------ */

static ISC_STATUS Succeed(ISC_STATUS* status) {
    status[0] = kArgGds;
    status[1] = 0;
    status[2] = kArgEnd;
    return 0;
}

static ISC_STATUS Fail(ISC_STATUS* status, long code) {
    status[0] = kArgGds;
    status[1] = code;
    status[2] = kArgEnd;
    return code;
}

static int ShouldFail(const char* call) {
    if (strcmp(failCall, call) != 0) return 0;
    failCall[0] = 0;
    return 1;
}

enum { kBadHandle = 335544559 };

EXPORT ISC_STATUS isc_service_attach(ISC_STATUS* status, unsigned short nameLength,
                                     const char* name, FB_API_HANDLE* handle,
                                     unsigned short requestLength, const char* request) {
    ++attachCalls;
    size_t n = nameLength < sizeof lastServiceName ? nameLength : sizeof lastServiceName - 1;
    memcpy(lastServiceName, name, n);
    lastServiceName[n] = 0;
    lastAttachLength = requestLength;
    memcpy(lastAttachRequest, request, requestLength);
    if (ShouldFail("isc_service_attach")) return Fail(status, failCode);
    *handle = 7;
    return Succeed(status);
}

EXPORT ISC_STATUS isc_service_detach(ISC_STATUS* status, FB_API_HANDLE* handle) {
    ++detachCalls;
    if (*handle == 0) return Fail(status, kBadHandle);
    if (ShouldFail("isc_service_detach")) return Fail(status, failCode);
    *handle = 0;
    return Succeed(status);
}

EXPORT ISC_STATUS isc_service_start(ISC_STATUS* status, FB_API_HANDLE* handle, void* reserved,
                                    unsigned short requestLength, const char* request) {
    (void)reserved;
    ++startCalls;
    lastStartLength = requestLength;
    memcpy(lastStartRequest, request, requestLength);
    if (*handle == 0) return Fail(status, kBadHandle);
    if (ShouldFail("isc_service_start")) return Fail(status, failCode);
    return Succeed(status);
}

EXPORT ISC_STATUS isc_service_query(ISC_STATUS* status, FB_API_HANDLE* handle, void* reserved,
                                    unsigned short sendLength, const char* send,
                                    unsigned short requestLength, const char* request,
                                    unsigned short bufferLength, char* buffer) {
    (void)reserved;
    (void)sendLength;
    (void)send;
    (void)requestLength;
    (void)request;
    ++queryCalls;
    lastBufferLength = bufferLength;
    if (*handle == 0) return Fail(status, kBadHandle);
    if (ShouldFail("isc_service_query")) return Fail(status, failCode);
    /* What the answer does not cover is left as garbage, not zeros. */
    memset(buffer, 0xEE, bufferLength);
    static const unsigned char kEnd[] = {62, 0, 0, 1};
    const unsigned char* answer = kEnd;
    int length = (int)sizeof kEnd;
    if (answerNext < answerCount) {
        answer = answers[answerNext];
        length = answerLength[answerNext++];
    }
    memcpy(buffer, answer, (size_t)(length < bufferLength ? length : bufferLength));
    return Succeed(status);
}

#endif
