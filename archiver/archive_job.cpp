#include "archiver/archive_job.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>

#include "archiver/retention.h"
#include "archiver/system.h"
#include "archiver/zip_writer.h"
#include "firebird/database.h"
#include "firebird/query.h"
#include "firebird/server_route.h"
#include "firebird/services.h"
#include "firebird/transaction.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qm::archiver {

namespace {

namespace fs = std::filesystem;

constexpr int kDefaultFirebirdPort = 3050;

int PortOf(const std::string& server) {
    const std::size_t slash = server.find('/');
    if (slash == std::string::npos) return kDefaultFirebirdPort;
    const std::string port = server.substr(slash + 1);
    int n = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return kDefaultFirebirdPort;  // a service name: the usual port
        n = n * 10 + (c - '0');
        if (n > 65535) return kDefaultFirebirdPort;
    }
    return n;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// Stops the server's backup of the database by ending the attachment its
// backup works through: a request of the services API has no cancel of its
// own, and detaching from the service manager leaves the backup running. The
// attachment is told apart from every client's: through a server it is the
// one the server opened for this process's service connection (its remote
// address is that connection's local end), in the engine inside this process
// it is the one with no remote protocol and no process of its own.
void StopBackupOnServer(const std::string& library, const std::string& password,
                        const TServerRoute& route, const std::string& dbFile,
                        const std::vector<std::string>& endpoints) {
    std::string where;
    if (route.IsEmbedded()) {
        where = "MON$REMOTE_PROTOCOL IS NULL";
    } else {
        if (endpoints.empty()) return;
        for (const std::string& e : endpoints) where += (where.empty() ? "" : ", ") + ("'" + e + "'");
        where = "MON$REMOTE_ADDRESS IN (" + where + ")";
    }
    try {
        TFbDatabase db(nullptr, "CancelConnection");
        db.SetDBName(route.DatabaseString(dbFile));
        db.SetDBParams({"user_name=SYSDBA", "password=" + password});
        db.SetLibraryName(library);
        db.SetSQLDialect(3);
        db.Connect();
        {
            TFbTransaction tr;
            tr.SetDefaultDatabase(&db);
            TFbQuery q;
            q.SetDatabase(&db);
            q.SetTransaction(&tr);
            tr.StartTransaction();
            q.SetSqlText({"DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
                          "AND MON$SYSTEM_FLAG = 0 AND MON$REMOTE_PID IS NULL AND " +
                          where});
            q.ExecuteQuery();
            tr.Commit();
        }
        db.Disconnect();
    } catch (const std::exception&) {
        // The backup may have ended meanwhile; the stop then waits for it.
    }
}

std::string StampOf(const std::tm& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d_%02d_%02d %02d-%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min);
    return buf;
}

std::string Decimal(double v, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    std::string s = buf;
    for (char& c : s)
        if (c == '.') c = ',';
    return s;
}

}  // namespace

void TCancel::Request() {
    requested_ = true;
    std::function<void()> stop;
    {
        std::lock_guard<std::mutex> g(m_);
        stop = stopper_;
    }
    if (stop) stop();
}

void TCancel::SetStopper(std::function<void()> stopper) {
    std::lock_guard<std::mutex> g(m_);
    stopper_ = std::move(stopper);
}

void TCancel::SetPartFiles(std::vector<std::string> files) {
    std::lock_guard<std::mutex> g(m_);
    parts_ = std::move(files);
}

std::vector<std::string> TCancel::PartFiles() const {
    std::lock_guard<std::mutex> g(m_);
    return parts_;
}

std::string FormatSize(std::uint64_t bytes) {
    const double b = static_cast<double>(bytes);
    if (bytes < 1024) return std::to_string(bytes) + " байт";
    if (bytes < 1024 * 1024) return Decimal(b / 1024, 1) + " КБ";
    if (bytes < 1024ull * 1024 * 1024) return Decimal(b / (1024 * 1024), 1) + " МБ";
    return Decimal(b / (1024.0 * 1024 * 1024), 2) + " ГБ";
}

std::string FormatDuration(double seconds) {
    if (seconds < 10) return Decimal(seconds, 1) + " с";
    const long long s = static_cast<long long>(seconds + 0.5);
    if (s < 60) return std::to_string(s) + " с";
    if (s < 3600) return std::to_string(s / 60) + " мин " + std::to_string(s % 60) + " с";
    return std::to_string(s / 3600) + " ч " + std::to_string(s % 3600 / 60) + " мин";
}

std::vector<std::string> RemovePartFiles(const std::string& dir) {
    std::vector<std::string> removed;
    std::error_code ec;
    for (fs::directory_iterator it(FsPath(dir), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = PathText(it->path().filename());
        if (!IsPartFileName(name)) continue;
        const fs::file_status st = it->symlink_status(ec);
        if (ec) continue;
        // A pipe or a device with such a name is not a file the service made.
        if (!fs::is_regular_file(st) && !fs::is_symlink(st) && st.type() != fs::file_type::fifo)
            continue;
        if (fs::remove(it->path(), ec)) removed.push_back(PathText(it->path()));
    }
    return removed;
}

TArchiveJob::TArchiveJob(const TFirebirdBase& base, const TSetting& setting, TEventLog& log,
                         TCancel* cancel)
    : base_(base), setting_(setting), log_(log), cancel_(cancel) {}

void TArchiveJob::Fail(const std::string& message) {
    log_.Write(message);
    const bool cancelled = cancel_ != nullptr && cancel_->Requested();
    log_.Write(cancelled ? "Архивация " + Quoted(base_.Description) +
                               " отменена: служба автоархивации останавливается."
                         : "Архивация " + Quoted(base_.Description) + " прервана из-за ошибки.");
}

TJobResult TArchiveJob::Run(const std::string& reason) {
    const auto started = std::chrono::steady_clock::now();
    TJobResult result;
    log_.Write("Архивация " + Quoted(base_.Description) + " началась (" + reason + "): " +
               base_.DBFile);
    auto finish = [&](bool ok) {
        result.Ok = ok;
        result.Cancelled = cancel_ != nullptr && cancel_->Requested();
        result.Seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (cancel_ != nullptr) cancel_->SetPartFiles({});
        return result;
    };

    if (base_.DBFile.empty()) {
        Fail("Не указан файл базы данных.");
        return finish(false);
    }
    if (base_.ArcDir.empty() || !platform::DirectoryExists(base_.ArcDir)) {
        Fail("Каталог архивов не найден: " + base_.ArcDir);
        return finish(false);
    }

    const std::tm local = LocalTime(NameTime != 0 ? NameTime : std::time(nullptr));
    const std::string fbk = TFirebirdBaseList::GetArchiveFileName(base_, local);
    const std::string zip = fbk.substr(0, fbk.size() - 4) + ".zip";
    const std::string target = base_.DoZIP ? zip : fbk;
    for (const std::string& name : {fbk, zip}) {
        if (platform::PathExists(name) && (name == fbk || base_.DoZIP)) {
            Fail("Архив " + name + " уже существует и не перезаписывается.");
            return finish(false);
        }
    }

    const std::string part = fbk + kPartSuffix;
    const std::string zipPart = zip + kPartSuffix;
    if (cancel_ != nullptr)
        cancel_->SetPartFiles(base_.DoZIP ? std::vector<std::string>{part, zipPart}
                                          : std::vector<std::string>{part});
    if (!Backup(part, result)) {
        if (platform::PathExists(part) && platform::DeleteFile(part))
            log_.Write("Неполный архив удалён: " + part);
        return finish(false);
    }
    const std::error_code renamed = platform::RenameNoReplace(part, fbk);
    if (renamed) {
        Fail("Архив не удалось переименовать в " + fbk + ": " + renamed.message());
        platform::DeleteFile(part);
        return finish(false);
    }
    result.Archive = fbk;
    result.Size = platform::ProbeFile(fbk).size;
    log_.Write("Создан архив: " + fbk + " (" + FormatSize(result.Size) + ")");

    if (base_.DoZIP) {
        if (!Compress(fbk, zip)) {
            platform::DeleteFile(zipPart);
            log_.Write("Архив оставлен несжатым: " + fbk);
            return finish(false);
        }
        result.Archive = zip;
        result.Size = platform::ProbeFile(zip).size;
    }

    Prune(StampOf(local), result);
    finish(true);
    log_.Write("Архивация " + Quoted(base_.Description) + " завершена: " + result.Archive + ", " +
               FormatSize(result.Size) + ", за " + FormatDuration(result.Seconds) + ".");
    return result;
}

bool TArchiveJob::Backup(const std::string& part, TJobResult&) {
    if (!IsLocalServerSetting(setting_.Server)) {
        Fail("Сервер " + EffectiveServerSetting(setting_.Server) +
             " не на этой машине: служба автоархивации работает с сервером своей машины.");
        return false;
    }

    TFbBackupService svc(nullptr, "BackupService");
    svc.LoginPrompt = false;
    bool ok = false;
    try {
        svc.SetParams({"user_name=sysdba", "password=" + setting_.SYSDBAPassword});
        svc.DatabaseName = base_.DBFile;
        svc.SetLibraryName(setting_.LibraryName);
        svc.BackupFile = {part};
        // The attachment the backup goes over is also the question which
        // server serves.
        const TServerRoute route = AttachService(svc, setting_.Server);
        log_.Write(route.IsEmbedded() ? "Архив пишет встроенный движок Firebird."
                                      : "Архив пишет сервер Firebird " + route.ServerName() + ".");
        if (cancel_ != nullptr) {
            const std::vector<std::string> endpoints =
                route.IsEmbedded() ? std::vector<std::string>{}
                                   : LocalEndpointsTo(PortOf(route.ServerName()));
            cancel_->SetStopper([library = setting_.LibraryName,
                                 password = setting_.SYSDBAPassword, route,
                                 dbFile = base_.DBFile, endpoints] {
                StopBackupOnServer(library, password, route, dbFile, endpoints);
            });
            if (cancel_->Requested()) throw std::runtime_error("Остановка службы до начала архивации.");
        }
        svc.StartServiceAction();
        while (!svc.OutputEnded()) {
            const std::string line = svc.ReadOutputLine();
            if (!line.empty()) log_.Write(line);
        }
        ok = true;
    } catch (const std::exception& e) {
        if (cancel_ != nullptr) cancel_->SetStopper({});
        Fail(e.what());
    }
    if (cancel_ != nullptr) cancel_->SetStopper({});
    try {
        if (svc.Active()) svc.SetActive(false);
    } catch (const std::exception& e) {
        log_.Write(e.what());
    }
    if (ok && platform::ProbeFile(part).size == 0) {
        Fail("Сервер завершил архивацию, но файла архива нет: " + part);
        ok = false;
    }
    return ok;
}

bool TArchiveJob::Compress(const std::string& fbk, const std::string& zip) {
    const std::string part = zip + kPartSuffix;
    platform::DeleteFile(part);
    try {
        std::error_code ec;
        const auto mtime = fs::last_write_time(FsPath(fbk), ec);
        TZipEntry entry;
        entry.Name = platform::ExtractFileName(fbk);
        entry.Modified = ec ? std::time(nullptr)
                            : std::chrono::system_clock::to_time_t(
                                  std::chrono::file_clock::to_sys(mtime));
        entry.UnixMode = static_cast<std::uint32_t>(fs::status(FsPath(fbk), ec).permissions()) & 0777;
        TZipOptions options;
        options.Threads = ZipThreads;
        if (cancel_ != nullptr) options.Cancelled = [this] { return cancel_->Requested(); };
        const TZipStats stats = WriteZip(fbk, part, entry, options);
        VerifyZip(part, entry.Name, stats);
        CopyOwnerAndMode(fbk, part);
        if (const std::error_code e = platform::RenameNoReplace(part, zip))
            throw EZipError("cannot rename " + part + " to " + zip + ": " + e.message());
        const double percent =
            stats.Size == 0 ? 100.0 : 100.0 * static_cast<double>(stats.ZipSize) / stats.Size;
        log_.Write("Архив сжат в ZIP и проверен: " + zip + " (" + FormatSize(stats.ZipSize) + ", " +
                   Decimal(percent, 1) + " % от архива)");
    } catch (const std::exception& e) {
        Fail("Архив не удалось сжать в ZIP: " + std::string(e.what()));
        return false;
    }
    if (platform::DeleteFile(fbk))
        log_.Write("Файл " + fbk + " удалён: архив хранится в ZIP.");
    else
        log_.Write("Файл " + fbk + " удалить не удалось; он остаётся рядом с ZIP.");
    return true;
}

void TArchiveJob::Prune(const std::string& stamp, TJobResult& result) {
    if (base_.ArcFileCount <= 0) return;
    // The count may act only while the newest archive is in place.
    if (!platform::FileExists(result.Archive)) return;
    const std::string dir = platform::ExtractFilePath(result.Archive);
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(FsPath(dir), ec), end; !ec && it != end; it.increment(ec)) {
        const fs::file_status st = it->symlink_status(ec);
        if (!ec && fs::is_regular_file(st)) names.push_back(PathText(it->path().filename()));
    }
    if (ec) {
        log_.Write("Каталог архивов не удалось прочитать: " + dir + ": " + ec.message());
        return;
    }
    const std::string dbName = DatabaseNamePart(TFirebirdBaseList::GetArchiveBaseName(base_));
    for (const std::string& name : ArchivesBeyondCount(names, dbName, base_.ArcFileCount, stamp)) {
        const std::string path = dir + name;
        if (platform::DeleteFile(path)) {
            result.Pruned.push_back(path);
            log_.Write("Удалён старый архив (хранятся " + std::to_string(base_.ArcFileCount) +
                       " последних): " + path);
        } else {
            log_.Write("Старый архив удалить не удалось: " + path);
        }
    }
}

}  // namespace qm::archiver
