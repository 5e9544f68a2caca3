#include "tests/support/firebird_server.h"

#include "firebird/server_route.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace qm::test {

namespace {

namespace fs = std::filesystem;

const char* const kServerBinary = "/usr/sbin/firebird";
const char* const kIsql = "/usr/bin/isql-fb";
const char* const kConfigDirs[] = {"/etc/firebird/3.0/", "/usr/lib/x86_64-linux-gnu/firebird/3.0/"};

// A port on 127.0.0.1 that nothing listens on at the moment of asking.
int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    int port = 0;
    socklen_t len = sizeof a;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
        port = ntohs(a.sin_port);
    }
    ::close(s);
    return port;
}

bool PortAnswers(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// Starts a program with the server's environment, its standard input from a
// file and its output appended to a log. Everything the child needs is made
// before the fork: the child of a threaded process may only exec.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            const std::string& dir, const std::string& input, const std::string& log) {
    std::vector<std::string> env = {"FIREBIRD=" + dir, "FIREBIRD_LOCK=" + dir + "lock",
                                    "FIREBIRD_TMP=" + dir + "tmp"};
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("FIREBIRD", 0) != 0) env.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string in = input.empty() ? "/dev/null" : input;

    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const int inFd = ::open(in.c_str(), O_RDONLY);
    const int outFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (inFd >= 0) ::dup2(inFd, 0);
    if (outFd >= 0) {
        ::dup2(outFd, 1);
        ::dup2(outFd, 2);
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
}

// Runs a program to its end: its exit code, -1 when it could not run.
int Run(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
        const std::string& input, const std::string& log) {
    const pid_t pid = Spawn(program, args, dir, input, log);
    if (pid < 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    return f.good();
}

}  // namespace

FirebirdServer::FirebirdServer(const std::string& sysdbaPassword) {
    if (::access(kServerBinary, X_OK) != 0 || ::access(kIsql, X_OK) != 0) {
        reason_ = std::string("the Firebird server binaries are missing (") + kServerBinary + ", " +
                  kIsql + "; Debian packages firebird3.0-server and firebird3.0-utils)";
        return;
    }
    std::string tmpl = (fs::temp_directory_path() / "quillmoor-fbserver-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) {
        reason_ = "cannot make a temporary directory";
        return;
    }
    dir_ = std::string(buf.data()) + "/";
    if (!Prepare(sysdbaPassword)) return;
    pid_ = Spawn(kServerBinary, {"-p", std::to_string(port_)}, dir_, "", dir_ + "server.log");
    if (pid_ <= 0) {
        pid_ = -1;
        reason_ = "cannot start " + std::string(kServerBinary);
        return;
    }
    if (!WaitForPort()) {
        Stop();
        reason_ = "the server did not answer on port " + std::to_string(port_);
    }
}

FirebirdServer::~FirebirdServer() {
    Stop();
    if (!dir_.empty()) {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
}

bool FirebirdServer::Prepare(const std::string& password) {
    std::error_code ec;
    fs::create_directories(dir_ + "lock", ec);
    fs::create_directories(dir_ + "tmp", ec);
    for (const char* name : {"plugins.conf", "fbintl.conf"}) {
        for (const char* from : kConfigDirs) {
            if (fs::exists(std::string(from) + name)) {
                fs::copy_file(std::string(from) + name, dir_ + name,
                              fs::copy_options::overwrite_existing, ec);
                break;
            }
        }
    }
    port_ = FreePort();
    if (port_ == 0) {
        reason_ = "no free port on 127.0.0.1";
        return false;
    }
    const std::string security = dir_ + "security3.fdb";
    const std::string conf = "RemoteServicePort = " + std::to_string(port_) +
                             "\nRemoteBindAddress = 127.0.0.1\nSecurityDatabase = " + security +
                             "\nAuthServer = Srp\nUserManager = Srp\nServerMode = Super\n";
    if (!WriteText(dir_ + "firebird.conf", conf) || !WriteText(dir_ + "databases.conf", "\n")) {
        reason_ = "cannot write the server's configuration";
        return false;
    }
    // The embedded engine creates the security database and, asked to create
    // the first user, the user table inside it.
    std::string escaped;
    for (char c : password) escaped += c == '\'' ? std::string("''") : std::string(1, c);
    const std::string script = "create database '" + security + "' user 'SYSDBA';\n" +
                               "create user SYSDBA password '" + escaped + "';\ncommit;\nexit;\n";
    if (!WriteText(dir_ + "setup.sql", script) ||
        Run(kIsql, {"-q", "-i", dir_ + "setup.sql"}, dir_, "", dir_ + "setup.log") != 0 ||
        !fs::exists(security)) {
        reason_ = "cannot create the security database (see " + dir_ + "setup.log)";
        return false;
    }
    return true;
}

bool FirebirdServer::WaitForPort() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (PortAnswers(port_)) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

void FirebirdServer::Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    pid_ = -1;
}

ServerVariable::ServerVariable(const std::string& server) {
    if (const char* v = std::getenv(kServerVariable)) {
        had_ = true;
        before_ = v;
    }
    ::setenv(kServerVariable, server.c_str(), 1);
}

ServerVariable::~ServerVariable() {
    if (had_)
        ::setenv(kServerVariable, before_.c_str(), 1);
    else
        ::unsetenv(kServerVariable);
}

std::string FirebirdServer::DatabasePath(const std::string& file) const {
    return "127.0.0.1/" + std::to_string(port_) + ":" + dir_ + file;
}

}  // namespace qm::test
