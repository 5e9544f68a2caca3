#ifndef _WIN32

// The service operations over systemd, driven through the systemctl program
// found on the PATH. The unit file is written here, into the unit directory;
// systemctl reloads, enables, disables, starts, stops and reports.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/termination.h"
#include "service/service_control.h"

extern char** environ;

namespace qm {

namespace {

// A longer answer than any show request can produce is cut here.
constexpr std::size_t kMaxOutput = 1 << 20;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

class SpawnActions {
public:
    SpawnActions() { ok_ = ::posix_spawn_file_actions_init(&a_) == 0; }
    ~SpawnActions() {
        if (ok_) ::posix_spawn_file_actions_destroy(&a_);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t* get() { return &a_; }

private:
    posix_spawn_file_actions_t a_;
    bool ok_ = false;
};

// Runs systemctl with the arguments and waits for it. Its standard output
// goes to out (when given), its standard input and error to /dev/null, so no
// question and no message reaches the user. The exit code, or -1 when the
// program could not be run or did not exit normally.
int RunSystemctl(const std::vector<std::string>& args, std::string* out) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    Fd readEnd(fds[0]);
    Fd writeEnd(fds[1]);

    SpawnActions actions;
    if (!actions.ok() ||
        ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0) != 0 ||
        ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), 1) != 0 ||
        ::posix_spawn_file_actions_addopen(actions.get(), 2, "/dev/null", O_WRONLY, 0) != 0)
        return -1;

    std::vector<std::string> storage;
    storage.reserve(args.size() + 1);
    storage.emplace_back("systemctl");
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : storage) argv.push_back(a.data());
    argv.push_back(nullptr);

    // systemctl must not inherit the program's blocked termination signals.
    posix_spawnattr_t attr;
    if (::posix_spawnattr_init(&attr) != 0) return -1;
    pid_t pid = 0;
    const bool spawned =
        platform::SetChildSignalDefaults(&attr) &&
        ::posix_spawnp(&pid, "systemctl", actions.get(), &attr, argv.data(), environ) == 0;
    ::posix_spawnattr_destroy(&attr);
    if (!spawned) return -1;
    writeEnd.Close();

    // Read to the end even past the limit, so that the child never blocks on
    // a full pipe.
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(readEnd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (out != nullptr && out->size() < kMaxOutput)
            out->append(buf, std::min(static_cast<std::size_t>(n), kMaxOutput - out->size()));
    }

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A request that changes something: systemctl must neither ask for a
// password nor wait for the unit to reach its new state.
bool Request(const char* verb, const std::string& unit, bool noBlock = false) {
    std::vector<std::string> args{"--no-ask-password"};
    if (noBlock) args.emplace_back("--no-block");
    args.emplace_back(verb);
    if (!unit.empty()) args.push_back(unit);
    return RunSystemctl(args, nullptr) == 0;
}

bool Reload() { return Request("daemon-reload", std::string()); }

struct UnitState {
    std::string load;
    std::string active;
    std::string sub;
    std::string freezer;
};

// The unit's states as systemd reports them; nothing when systemctl cannot
// answer (not installed, no running systemd). systemd lists the properties
// in an order of its own, not in the order asked.
std::optional<UnitState> QueryUnit(const std::string& unit) {
    std::string out;
    int rc = RunSystemctl({"show", "--property=LoadState", "--property=ActiveState",
                           "--property=SubState", "--property=FreezerState", unit},
                          &out);
    if (rc != 0) return std::nullopt;
    UnitState s;
    bool haveLoad = false, haveActive = false;
    std::string_view rest(out);
    while (!rest.empty()) {
        std::size_t eol = rest.find('\n');
        std::string_view line = rest.substr(0, eol);
        rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = line.substr(0, eq);
        std::string value(line.substr(eq + 1));
        if (key == "LoadState") {
            s.load = value;
            haveLoad = true;
        } else if (key == "ActiveState") {
            s.active = value;
            haveActive = true;
        } else if (key == "SubState") {
            s.sub = value;
        } else if (key == "FreezerState") {
            s.freezer = value;
        }
    }
    if (!haveLoad || !haveActive) return std::nullopt;
    return s;
}

bool IsActiveState(const std::string& a) {
    return a == "active" || a == "reloading" || a == "activating" || a == "deactivating";
}

// systemd keeps a unit whose file is gone while it still runs; it counts as
// installed until it stops, as a Windows service marked for deletion does.
bool Known(const UnitState& s) {
    return (!s.load.empty() && s.load != "not-found") || IsActiveState(s.active);
}

std::uint32_t MapState(const UnitState& s) {
    if (!Known(s)) return kServiceStateUnknown;
    // The cgroup freezer is systemd's pause.
    if (s.freezer == "frozen") return kServicePaused;
    if (s.freezer == "freezing") return kServicePausePending;
    if (s.freezer == "thawing") return kServiceContinuePending;
    if (s.active == "active" || s.active == "reloading") return kServiceRunning;
    if (s.active == "activating") {
        // Waiting to be restarted after it ended: nothing runs.
        return s.sub.rfind("auto-restart", 0) == 0 ? kServiceStopped : kServiceStartPending;
    }
    if (s.active == "deactivating") return kServiceStopPending;
    if (s.active == "inactive" || s.active == "failed") return kServiceStopped;
    return kServiceStateUnknown;
}

std::string UnitDir() {
    const char* v = std::getenv(kUnitDirVariable);
    std::string dir = (v != nullptr && *v != '\0') ? v : kDefaultUnitDir;
    if (dir.back() != '/') dir += '/';
    return dir;
}

bool PathPresent(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool HasControl(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

// Length of the well-formed UTF-8 sequence at the start of s; 0 when the
// bytes there are not one (overlong forms, surrogates and values above
// U+10FFFF included).
std::size_t Utf8SequenceLength(std::string_view s) {
    auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = b(0);
    if (c < 0x80) return 1;
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (s.size() < len) return 0;
    if (b(1) < lo || b(1) > hi) return 0;
    for (std::size_t i = 2; i < len; ++i)
        if (b(i) < 0x80 || b(i) > 0xBF) return 0;
    return len;
}

bool IsUtf8(std::string_view s) {
    while (!s.empty()) {
        std::size_t n = Utf8SequenceLength(s);
        if (n == 0) return false;
        s.remove_prefix(n);
    }
    return true;
}

// A value that systemd keeps as written: a control character would start a
// new line (a directive of its own), a trailing backslash would join the
// next line, and systemd drops a line that is not UTF-8.
bool IsPlainValue(std::string_view s) {
    return !HasControl(s) && IsUtf8(s) && (s.empty() || s.back() != '\\');
}

std::string EscapePercent(std::string_view s) {
    std::string out;
    for (char c : s) {
        out += c;
        if (c == '%') out += '%';
    }
    return out;
}

// The executable path as one quoted word of ExecStart=: unquoted, systemd
// would split it at a blank and run the first part as the program. '%' is a
// specifier, and bytes that are not UTF-8 are written as \x escapes; systemd
// refuses quotes and backslashes in the program's path whatever the
// escaping, so such a path has no form.
std::optional<std::string> ExecStartWord(std::string_view path) {
    if (path.empty() || path.front() != '/' || HasControl(path)) return std::nullopt;
    if (path.find_first_of("\"'\\") != std::string_view::npos) return std::nullopt;
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    while (!path.empty()) {
        std::size_t n = Utf8SequenceLength(path);
        if (n == 0) {
            unsigned char c = static_cast<unsigned char>(path.front());
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
            n = 1;
        } else if (path.front() == '%') {
            out += "%%";
        } else {
            out.append(path.substr(0, n));
        }
        path.remove_prefix(n);
    }
    out += '"';
    return out;
}

// The line that hands the service the manager's data directory, when the
// manager runs with one of its own (QUILLMOOR_DATA_DIR): the service must
// read the register the manager writes. Empty when the variable is unset;
// nothing when the directory has no faithful form in a unit file.
std::optional<std::string> DataDirLine() {
    const char* v = std::getenv("QUILLMOOR_DATA_DIR");
    if (v == nullptr || *v == '\0') return std::string();
    std::error_code ec;
    const std::string dir = std::filesystem::absolute(v, ec).string();
    if (ec || !IsPlainValue(dir) || dir.find_first_of("\"\\") != std::string::npos)
        return std::nullopt;
    return "Environment=\"QUILLMOOR_DATA_DIR=" + EscapePercent(dir) + "\"\n";
}

// The unit file: the display name is systemd's Description= (its short
// title); the longer description has no directive of its own and heads the
// file as a comment. No User= means root. The service tells systemd when it
// is ready (Type=notify); a stop ends a running backup and its partial
// archive within seconds, well inside TimeoutStopSec. A crash is restarted;
// a second instance (exit code 3) and a bad command line (2) are not.
std::optional<std::string> UnitFileText(const std::string& displayName,
                                        const std::string& executablePath,
                                        const std::string& description) {
    if (!IsPlainValue(displayName) || !IsPlainValue(description)) return std::nullopt;
    auto exec = ExecStartWord(executablePath);
    if (!exec) return std::nullopt;
    auto dataDir = DataDirLine();
    if (!dataDir) return std::nullopt;
    std::string text;
    if (!description.empty()) text += "# " + description + "\n";
    text += "[Unit]\n";
    text += "Description=" + EscapePercent(displayName) + "\n";
    text += "\n[Service]\n";
    text += "Type=notify\n";
    text += "ExecStart=" + *exec + "\n";
    text += *dataDir;
    text += "TimeoutStopSec=30\n";
    text += "Restart=on-failure\n";
    text += "RestartSec=30\n";
    text += "RestartPreventExitStatus=2 3\n";
    text += "\n[Install]\n";
    text += "WantedBy=multi-user.target\n";
    return text;
}

}  // namespace

std::string SystemdUnitName(const std::string& serviceName) {
    // The unit name is also an argument of systemctl: a leading '-' would
    // make it an option.
    if (serviceName.empty() || serviceName.size() > 200 || serviceName.front() == '-' ||
        serviceName.front() == '.')
        return {};
    std::string unit;
    for (char c : serviceName) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                  c == '.' || c == ':';
        if (!ok) return {};
        unit += c;
    }
    return unit + ".service";
}

bool ServiceExists(const std::string& serviceName) {
    std::string unit = SystemdUnitName(serviceName);
    if (unit.empty()) return false;
    auto s = QueryUnit(unit);
    return s && Known(*s);
}

bool ServiceStart(const std::string& serviceName) {
    std::string unit = SystemdUnitName(serviceName);
    if (unit.empty()) return false;
    // systemd accepts a start of a running unit as a no-op; the Windows
    // manager refuses it, and callers rely on that answer.
    auto s = QueryUnit(unit);
    if (!s || MapState(*s) != kServiceStopped) return false;
    return Request("start", unit, true);
}

bool ServiceStop(const std::string& serviceName) {
    std::string unit = SystemdUnitName(serviceName);
    if (unit.empty()) return false;
    auto s = QueryUnit(unit);
    if (!s) return false;
    std::uint32_t state = MapState(*s);
    if (state != kServiceRunning && state != kServicePaused) return false;
    return Request("stop", unit, true);
}

void ServiceGetStatus(const std::string& serviceName, SERVICE_STATUS& status) {
    status = SERVICE_STATUS{};
    std::string unit = SystemdUnitName(serviceName);
    if (unit.empty()) return;
    auto s = QueryUnit(unit);
    if (s) status.dwCurrentState = MapState(*s);
}

bool ServiceInstall(const std::string& serviceName, const std::string& displayName,
                    const std::string& executablePath, const std::string& description) {
    std::string unit = SystemdUnitName(serviceName);
    if (unit.empty()) return false;
    auto text = UnitFileText(displayName, executablePath, description);
    if (!text) return false;
    auto s = QueryUnit(unit);
    if (!s || Known(*s)) return false;
    const std::string file = UnitDir() + unit;
    // A file systemd has not loaded yet is still somebody's registration.
    if (PathPresent(file)) return false;
    // systemd and every user read the unit; the umask of the moment must not
    // decide that.
    if (!platform::ReplaceFileAtomically(file, *text, 0644, platform::ModeRule::Exactly))
        return false;
    if (!Reload()) {
        platform::DeleteFile(file);
        return false;
    }
    if (!Request("enable", unit)) {
        platform::DeleteFile(file);
        Reload();
        return false;
    }
    return true;
}

bool ServiceUninstall(const std::string& serviceName) {
    std::string unit = SystemdUnitName(serviceName);
    if (unit.empty()) return false;
    auto s = QueryUnit(unit);
    if (!s || !Known(*s)) return false;
    const std::string file = UnitDir() + unit;
    // A unit that lives elsewhere (installed by a package) is not ours to remove.
    if (!PathPresent(file)) return false;
    if (!Request("disable", unit)) return false;
    if (!platform::DeleteFile(file)) {
        Request("enable", unit);
        return false;
    }
    // The file is gone and the unit disabled: the registration has ended even
    // if systemd learns of it only at its next reload.
    Reload();
    return true;
}

}  // namespace qm

#endif  // _WIN32
