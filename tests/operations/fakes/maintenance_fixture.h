#pragma once

// What the restore, validation and optimization tests share: real databases
// made with isql-fb in a temporary folder, Firebird's own tools as independent
// checks, the fault client library's controls, a log view that records, and a
// data module set up as the program sets it up.

#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/firebird_base.h"
#include "config/setting.h"
#include "firebird/component.h"
#include "operations/data_module.h"
#include "operations/interaction.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "tests/support/command.h"
#include "tests/support/temp_dir.h"

namespace qm::test {

// Runs SQL through isql-fb in its own process (its own embedded engine),
// against db or, with none, a script that names its database.
inline std::string Isql(const TempDir& dir, const std::string& sql, const std::string& db = {}) {
    const std::string script = dir.File("isql_script.sql");
    WriteFile(script, sql);
    return RunCommand(std::string(QM_OPS_ISQL) + " -q " + (db.empty() ? "" : ShellQuote(db)) +
                      " -user SYSDBA -password masterkey -i " + ShellQuote(script));
}

// A database of `rows` people (with a Cyrillic name among them) and 8 KB pages.
// A name that begins with "/" is a full path, any other is one in dir.
inline std::string MakeDatabase(const TempDir& dir, const std::string& name, int rows = 300,
                                int pageSize = 8192) {
    const std::string db = !name.empty() && name[0] == '/' ? name : dir.File(name);
    const std::string out =
        Isql(dir,
             "SET SQL DIALECT 3;\n"
             "CREATE DATABASE '" +
                 db + "' USER 'SYSDBA' PASSWORD 'masterkey' PAGE_SIZE " + std::to_string(pageSize) +
                 " DEFAULT CHARACTER SET UTF8;\n"
                 "CREATE TABLE PEOPLE (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40));\n"
                 "CREATE INDEX PEOPLE_NAME ON PEOPLE (NAME);\n"
                 "COMMIT;\n"
                 "SET TERM ^;\n"
                 "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN\n"
                 "  WHILE (I <= " +
                 std::to_string(rows) +
                 ") DO BEGIN\n"
                 "    INSERT INTO PEOPLE VALUES (:I, 'person ' || :I); I = I + 1; END\n"
                 "END^\n"
                 "SET TERM ;^\n"
                 "UPDATE PEOPLE SET NAME = 'Анна' WHERE ID = 1;\n"
                 "COMMIT;\n");
    EXPECT_TRUE(platform::FileExists(db)) << out;
    return db;
}

// The people of a database as isql-fb reads them: the row count and a
// checksum of the names, or isql's complaint.
inline std::string Contents(const TempDir& dir, const std::string& db) {
    return Isql(dir,
                "SET LIST ON;\n"
                "SELECT COUNT(*) AS N, SUM(CHAR_LENGTH(NAME) * ID) AS S, "
                "MAX(IIF(ID = 1, NAME, NULL)) AS FIRST_NAME FROM PEOPLE;\n",
                db);
}

inline std::string PageSize(const TempDir& dir, const std::string& db) {
    return Isql(dir, "SET LIST ON;\nSELECT MON$PAGE_SIZE AS PS FROM MON$DATABASE;\n", db);
}

// An archive of db written by gbak itself.
inline std::string GbakBackup(const std::string& db, const std::string& archive) {
    const std::string out = RunCommand(std::string(QM_OPS_GBAK) + " -b " + ShellQuote(db) + " " +
                                       ShellQuote(archive) + " -user SYSDBA -password masterkey");
    EXPECT_TRUE(platform::FileExists(archive)) << out;
    return archive;
}

// Another program's attachment to a database: isql-fb in its own process,
// attached through the connection string (a file path for its own embedded
// engine, "host/port:path" for a server) and kept attached until the object
// goes.
class HeldAttachment {
public:
    HeldAttachment(const TempDir& dir, const std::string& connection) {
        static int count = 0;
        out_ = dir.File("held_" + std::to_string(++count) + ".out");
        const std::string command = std::string(QM_OPS_ISQL) +
                                    " -q -user SYSDBA -password masterkey " +
                                    ShellQuote(connection) + " >" + ShellQuote(out_) + " 2>&1";
        pipe_ = popen(command.c_str(), "w");
        holding_ = pipe_ != nullptr && Ask("ready");
    }
    ~HeldAttachment() {
        if (pipe_ == nullptr) return;
        std::fputs("QUIT;\n", pipe_);
        pclose(pipe_);
    }
    HeldAttachment(const HeldAttachment&) = delete;
    HeldAttachment& operator=(const HeldAttachment&) = delete;

    // Attached and answering once the constructor returned.
    bool Holding() const { return holding_; }
    // The attachment still answers a query.
    bool StillWorks() { return Ask("alive" + std::to_string(++asked_)); }
    // What isql-fb has printed so far.
    std::string Output() const { return ReadFile(out_); }

private:
    // Sends a query whose answer holds the marker; true when the answer came.
    bool Ask(const std::string& marker) {
        std::fputs(("SELECT '" + marker + "' FROM RDB$DATABASE;\n").c_str(), pipe_);
        std::fflush(pipe_);
        for (int i = 0; i < 200; ++i) {
            const std::string out = Output();
            if (out.find(marker) != std::string::npos) return true;
            if (out.find("Statement failed", printed_) != std::string::npos) break;
            ::usleep(50 * 1000);
        }
        printed_ = Output().size();
        return false;
    }

    std::string out_;
    FILE* pipe_ = nullptr;
    bool holding_ = false;
    int asked_ = 0;
    std::size_t printed_ = 0;
};

// A database gbak itself restores from an archive, beside the archive.
inline std::string GbakRestore(const std::string& archive) {
    const std::string db = archive + ".gbak-check.fdb";
    std::remove(db.c_str());
    const std::string out = RunCommand(std::string(QM_OPS_GBAK) + " -c " + ShellQuote(archive) +
                                       " " + ShellQuote(db) + " -user SYSDBA -password masterkey");
    EXPECT_TRUE(platform::FileExists(db)) << out;
    return db;
}

// Cuts a file down to `size` bytes.
inline void Truncate(const std::string& path, std::size_t size) {
    const std::string content = ReadFile(path);
    ASSERT_GT(content.size(), size) << path;
    WriteFile(path, content.substr(0, size));
}

// Damages the first data page of a user table of a database whose pages are
// pageSize bytes: the index entries of its first records get an offset and a
// length beyond any page. False when no such page was found.
inline bool DamageDataPage(const std::string& db, std::size_t pageSize) {
    std::string bytes = ReadFile(db);
    constexpr unsigned char kDataPage = 5;
    constexpr std::size_t kRelationAt = 20, kIndexAt = 24;
    constexpr unsigned kFirstUserRelation = 128;
    for (std::size_t at = 0; at + pageSize <= bytes.size(); at += pageSize) {
        if (static_cast<unsigned char>(bytes[at]) != kDataPage) continue;
        const unsigned relation = static_cast<unsigned char>(bytes[at + kRelationAt]) |
                                  static_cast<unsigned char>(bytes[at + kRelationAt + 1]) << 8;
        if (relation < kFirstUserRelation) continue;
        for (std::size_t k = 0; k < 3; ++k) {
            const std::size_t entry = at + kIndexAt + 4 * k;
            bytes[entry] = bytes[entry + 2] = static_cast<char>(0xF0);
            bytes[entry + 1] = bytes[entry + 3] = static_cast<char>(0xFF);
        }
        WriteFile(db, bytes);
        return true;
    }
    return false;
}

// The names in a directory, "." and ".." left out.
inline std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        }
        closedir(d);
    }
    return names;
}

// A directory in which no entry can be made or removed, even by root, for the
// life of the object; Made() is false where the system does not allow that.
class SealedDirectory {
public:
    explicit SealedDirectory(std::string dir) : dir_(std::move(dir)) {
        if (::geteuid() != 0) {
            ::chmod(dir_.c_str(), 0555);
        } else {
            RunCommand("chattr +i " + ShellQuote(dir_));
        }
        const std::string probe = dir_ + "probe";
        FILE* f = std::fopen(probe.c_str(), "w");
        if (f != nullptr) {
            std::fclose(f);
            std::remove(probe.c_str());
        } else {
            made_ = true;
        }
    }
    ~SealedDirectory() {
        if (::geteuid() == 0) RunCommand("chattr -i " + ShellQuote(dir_));
        ::chmod(dir_.c_str(), 0755);
    }
    bool Made() const { return made_; }

private:
    std::string dir_;
    bool made_ = false;
};

// The controls of the fault client library (fakes/fault_fbclient.cpp), in
// the very instance that the binding loads under the same path.
class FaultClient {
public:
    static constexpr const char* kPath = QM_FAULT_CLIENT;

    FaultClient() {
        module_ = dlopen(kPath, RTLD_NOW | RTLD_LOCAL);
        if (module_ == nullptr) {
            ADD_FAILURE() << "cannot load " << kPath << ": " << dlerror();
            return;
        }
        reset_ = reinterpret_cast<void (*)()>(dlsym(module_, "fault_reset"));
        failAttach_ = reinterpret_cast<void (*)(int)>(dlsym(module_, "fault_fail_service_attach"));
        addLine_ =
            reinterpret_cast<void (*)(int, const char*)>(dlsym(module_, "fault_add_output_line"));
        EXPECT_TRUE(reset_ && failAttach_ && addLine_);
        if (reset_) reset_();
    }
    ~FaultClient() {
        if (reset_) reset_();
        // The binding keeps its own reference; this one goes.
        if (module_ != nullptr) dlclose(module_);
    }
    FaultClient(const FaultClient&) = delete;
    FaultClient& operator=(const FaultClient&) = delete;

    // The n-th service attach from now fails: no service manager answers.
    void FailServiceAttach(int nth) { failAttach_(nth); }
    // The next action of the kind (1 backup, 2 restore, 3 validation) reports
    // this line before its own output.
    void AddOutputLine(int action, const std::string& text) { addLine_(action, text.c_str()); }

private:
    void* module_ = nullptr;
    void (*reset_)() = nullptr;
    void (*failAttach_)(int) = nullptr;
    void (*addLine_)(int, const char*) = nullptr;
};

// A log view that keeps its lines without the time stamp and can act when a
// line arrives (to break something half-way through a run).
class RecordingLog final : public ILogView {
public:
    void Clear() override { lines.clear(); }
    void AddLine(const std::string& line) override {
        // "dd.mm.yyyy HH:nn:ss > " is 22 characters.
        EXPECT_GE(line.size(), 22u) << line;
        const std::string text = line.size() >= 22 ? line.substr(22) : line;
        lines.push_back(text);
        if (onLine) onLine(text);
    }
    bool Has(const std::string& text) const {
        for (const std::string& l : lines)
            if (l == text) return true;
        return false;
    }
    std::string All() const {
        std::string all;
        for (const std::string& l : lines) all += l + "\n";
        return all;
    }

    std::vector<std::string> lines;
    std::function<void(const std::string&)> onLine;
};

// The data module as the main window makes it, with the settings the tests use.
struct DataModule {
    explicit DataModule(const std::string& library = platform::kDefaultClientLibrary) {
        setting.LibraryName = library;
        setting.SYSDBAPassword = "masterkey";
    }
    TComponent owner{nullptr, "Moorquill"};
    TSetting setting{false};
    Tdm dm{&owner, setting};
};

}  // namespace qm::test
