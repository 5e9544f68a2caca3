// The sanitizer options of every test program. Tests found by discovery do
// not get a list-valued test environment, so each program carries its options
// itself; variables that are set still take precedence. Leak reports from
// Firebird's engine and from Qt's global caches are not ours to mend (see
// tests/lsan.supp); everything else must leave the sanitizers silent.

#define QM_SANITIZER_HOOK extern "C" __attribute__((used, visibility("default"))) const char*

QM_SANITIZER_HOOK __asan_default_options() {
    return "detect_leaks=1:abort_on_error=0:detect_odr_violation=0";
}

// Thread-local storage is not scanned: the embedded engine loads and unloads
// libraries with thread-local data, and the leak checker's tracer crashes on
// the stale dynamic-TLS entries they leave behind. Memory that only
// thread-local data of the toolkits points to is suppressed by library.
QM_SANITIZER_HOOK __lsan_default_options() {
    return "suppressions=" QM_LSAN_SUPPRESSIONS ":print_suppressions=0:use_tls=0";
}

QM_SANITIZER_HOOK __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }

// Every test program starts without a Firebird server: the variable that
// names the server points at a port of this machine where nothing listens,
// so the program falls back to the embedded engine, and a server that runs
// on the machine is never touched. Tests that want a server (their private
// one) set the variable themselves.
#include <cstdlib>

namespace {
const bool kNoServer = [] {
    ::setenv("QUILLMOOR_FIREBIRD_SERVER", "127.0.0.1/1", 1);
    return true;
}();
}  // namespace
