/* A stand-in client library for the binding's tests under Wine: it exports
   the client API's entry points by name and does nothing else (no engine
   runs here). Compile definitions choose what it lacks or adds:
     FAKE_NO_GENERATION   no isc_rollback_retaining and none of its group
     FAKE_VERSION_MARKER  isc_get_client_version/major/minor, answering 7.3
     FAKE_OMIT_PREPARE    no isc_dsql_prepare */

// clang-format off
#define FAKE(name) __declspec(dllexport) int name(void) { return 0; }
FAKE(BLOB_get)
FAKE(BLOB_put)
FAKE(isc_sqlcode)
FAKE(isc_sql_interprete)
FAKE(isc_interprete)
FAKE(isc_vax_integer)
FAKE(isc_blob_info)
FAKE(isc_open_blob2)
FAKE(isc_close_blob)
FAKE(isc_get_segment)
FAKE(isc_put_segment)
FAKE(isc_create_blob2)
FAKE(isc_decode_date)
FAKE(isc_encode_date)
FAKE(isc_dsql_free_statement)
FAKE(isc_dsql_execute2)
FAKE(isc_dsql_execute)
FAKE(isc_dsql_set_cursor_name)
FAKE(isc_dsql_fetch)
FAKE(isc_dsql_sql_info)
FAKE(isc_dsql_alloc_statement2)
FAKE(isc_dsql_describe_bind)
FAKE(isc_dsql_describe)
FAKE(isc_dsql_execute_immediate)
FAKE(isc_dsql_exec_immed2)
FAKE(isc_drop_database)
FAKE(isc_detach_database)
FAKE(isc_attach_database)
FAKE(isc_database_info)
FAKE(isc_start_multiple)
FAKE(isc_commit_transaction)
FAKE(isc_commit_retaining)
FAKE(isc_rollback_transaction)
FAKE(isc_cancel_events)
FAKE(isc_que_events)
FAKE(isc_event_counts)
FAKE(isc_event_block)
FAKE(isc_free)
FAKE(isc_array_lookup_bounds)
FAKE(isc_array_get_slice)
FAKE(isc_array_put_slice)
FAKE(isc_wait_for_event)
FAKE(isc_transaction_info)
FAKE(isc_prepare_transaction)
FAKE(isc_prepare_transaction2)

#ifndef FAKE_OMIT_PREPARE
FAKE(isc_dsql_prepare)
#endif

#ifndef FAKE_NO_GENERATION
FAKE(isc_rollback_retaining)
FAKE(isc_service_attach)
FAKE(isc_service_detach)
FAKE(isc_service_query)
FAKE(isc_service_start)
FAKE(isc_decode_sql_date)
FAKE(isc_decode_sql_time)
FAKE(isc_decode_timestamp)
FAKE(isc_encode_sql_date)
FAKE(isc_encode_sql_time)
FAKE(isc_encode_timestamp)
FAKE(isc_portable_integer)
#endif
// clang-format on

#ifdef FAKE_VERSION_MARKER
__declspec(dllexport) void isc_get_client_version(char* text) {
    const char* v = "WI-V7.3 fake";
    while ((*text++ = *v++) != 0) {
    }
}
__declspec(dllexport) int isc_get_client_major_version(void) { return 7; }
__declspec(dllexport) int isc_get_client_minor_version(void) { return 3; }
#endif
