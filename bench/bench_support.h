#pragma once

// What the benchmarks share: running one of Firebird's own tools, timing a run
// and taking medians, scratch files and folders, and the database the
// maintenance benchmarks work on.
//
// MakeBenchDatabase(dir, megabytes) gives the path of a database of about that
// size in dir, made with isql-fb on the embedded engine on first use and
// reused by every later call (the file name carries the size). The database
// holds one table of about 1 KB rows whose text does not compress, with a
// primary key and one secondary index, so that a backup reads every data page
// and a restore rebuilds real indexes.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace qm::bench {

inline constexpr const char* kIsql = "/usr/bin/isql-fb";
inline constexpr const char* kFbsvcmgr = "/usr/bin/fbsvcmgr";
inline constexpr const char* kGbak = "/usr/bin/gbak";

// Runs a program with the arguments to its end, its standard output and error
// going to outputFile (or nowhere when it is empty). The exit code, 128 plus
// the signal's number when a signal ended it, -1 when it could not run.
inline int RunProgram(const std::vector<std::string>& argv, const std::string& outputFile = {}) {
    std::vector<char*> args;
    std::vector<std::string> copy = argv;
    for (std::string& a : copy) args.push_back(a.data());
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = outputFile.empty() ? "/dev/null" : outputFile;
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    pid_t waited;
    // The embedded engine's own signals may interrupt the wait.
    do {
        waited = waitpid(pid, &status, 0);
    } while (waited == -1 && errno == EINTR);
    if (waited != pid) return -1;
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The size of a regular file; -1 when there is none at the path.
inline long long FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)
               ? static_cast<long long>(st.st_size)
               : -1;
}

inline double Megabytes(const std::string& path) {
    return static_cast<double>(FileSize(path)) / (1024 * 1024);
}

// Writes a whole file; throws std::runtime_error when it cannot.
inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    if (!f.good()) throw std::runtime_error("cannot write " + path);
}

// Reads a whole file; throws std::runtime_error when it cannot.
inline std::string ReadText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// The folder `name` under the system's temporary folder, made when missing;
// the path ends with '/'.
inline std::string ScratchDirectory(const std::string& name) {
    const std::string dir = (std::filesystem::temp_directory_path() / name).string() + "/";
    std::filesystem::create_directories(dir);
    return dir;
}

// Runs a benchmark's body and answers its exit code; an exception ends it with
// "<name>: <message>" on the error output and exit code 1.
inline int RunReportingErrors(const char* name, const std::function<int()>& body) {
    try {
        return body();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
        return 1;
    }
}

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// Processor time (user and system) of this process (RUSAGE_SELF) or of its
// waited-for children (RUSAGE_CHILDREN), in seconds: on a machine shared with
// other work the wall clock counts their time too.
inline double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A fresh database at path (dir ends with '/'), made by isql-fb in a process
// of its own, so that no contender finds it in its engine's cache; sql runs
// in it after the CREATE DATABASE. Throws std::runtime_error when isql-fb fails.
inline void FreshIsqlDatabase(const std::string& dir, const std::string& path,
                              const std::string& sql = {}) {
    std::filesystem::remove(path);
    const std::string create = dir + "create.sql";
    WriteText(create, "CREATE DATABASE '" + path +
                          "' USER 'SYSDBA' PASSWORD 'masterkey' "
                          "PAGE_SIZE 8192 DEFAULT CHARACTER SET UTF8;\n" +
                          sql);
    if (RunProgram({kIsql, "-q", "-b", "-i", create}) != 0)
        throw std::runtime_error("isql-fb could not create " + path);
}

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

namespace detail {

// Runs an isql-fb script on the embedded engine; throws with the tool's output.
inline void RunIsql(const std::string& dir, const std::string& script) {
    const std::string scriptFile = dir + "bench_db.sql";
    const std::string logFile = dir + "bench_db.log";
    WriteText(scriptFile, script);
    const int rc = RunProgram({kIsql, "-q", "-b", "-i", scriptFile}, logFile);
    std::remove(scriptFile.c_str());
    if (rc != 0) {
        std::ifstream log(logFile);
        std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        throw std::runtime_error("isql-fb failed (" + std::to_string(rc) + "): " + text);
    }
    std::remove(logFile.c_str());
}

// Rows from first to first + count - 1, about 1.2 KB each.
inline std::string InsertRows(long long first, long long count) {
    std::string sql =
        "set term ^;\n"
        "execute block as\n"
        "  declare i integer = @FROM;\n"
        "begin\n"
        "  while (i < @TO) do begin\n"
        "    insert into BENCH_DATA (ID, CODE, AMOUNT, CREATED, NOTE)\n"
        "    values (:i, uuid_to_char(gen_uuid()), mod(:i * 7919, 100000) / 100.0,\n"
        "            dateadd(:i second to timestamp '2011-03-07 09:05:02'),\n"
        "            lpad('', 900, uuid_to_char(gen_uuid())));\n"
        "    i = i + 1;\n"
        "  end\n"
        "end^\n"
        "set term ;^\n"
        "commit;\n";
    sql.replace(sql.find("@FROM"), 5, std::to_string(first));
    sql.replace(sql.find("@TO"), 3, std::to_string(first + count));
    return sql;
}

}  // namespace detail

// The path of a database of about `megabytes` MB in dir (which ends with '/').
// An existing file of that name is reused as it is. The database is built
// under a temporary name and renamed when complete, so an interrupted run is
// never taken for a finished one. Throws std::runtime_error when isql-fb fails.
inline std::string MakeBenchDatabase(const std::string& dir, std::size_t megabytes) {
    const std::string path = dir + "bench_" + std::to_string(megabytes) + "mb.fdb";
    if (FileSize(path) > 0) return path;

    const std::string part = path + ".part.fdb";
    std::remove(part.c_str());
    const long long target = static_cast<long long>(megabytes) * 1024 * 1024;
    // About 1.2 KB a row on 8 KB pages, indexes included.
    const long long rowsPerMb = 840;
    long long rows = static_cast<long long>(megabytes) * rowsPerMb;
    detail::RunIsql(dir, "create database '" + part +
                             "' user 'SYSDBA' page_size 8192;\n"
                             "create table BENCH_DATA (ID integer not null primary key,\n"
                             "  CODE varchar(40), AMOUNT numeric(15,2), CREATED timestamp,\n"
                             "  NOTE varchar(1000));\n"
                             "commit;\n" +
                             detail::InsertRows(0, rows) +
                             // Built after the load: one sort instead of a random insert a row.
                             "create index IX_BENCH_DATA_CODE on BENCH_DATA (CODE);\n"
                             "commit;\n");
    // Top up until the file has grown to the size asked for (within 2 %).
    for (int round = 0; round < 8; ++round) {
        const long long size = FileSize(part);
        if (size < 0) throw std::runtime_error("the benchmark database was not created: " + part);
        if (size * 50 >= target * 49) break;
        const long long more =
            std::max<long long>(1000, (target - size) / (1024 * 1024) * rowsPerMb);
        detail::RunIsql(dir,
                        "connect '" + part + "' user 'SYSDBA';\n" + detail::InsertRows(rows, more));
        rows += more;
    }
    if (std::rename(part.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot rename " + part + " to " + path);
    return path;
}

}  // namespace qm::bench
