#pragma once

#include <sys/types.h>

#include <string>

namespace qm::test {

// A private Firebird server for one test (or suite): its own directory with
// its own configuration, security database (SYSDBA with the given password),
// lock directory and TCP port on 127.0.0.1. Started by the constructor as a
// child process and stopped by the destructor. When the server binaries are
// missing or the server does not come up, Running() is false and Reason()
// says why (tests then skip).
class FirebirdServer {
public:
    explicit FirebirdServer(const std::string& sysdbaPassword);
    ~FirebirdServer();
    FirebirdServer(const FirebirdServer&) = delete;
    FirebirdServer& operator=(const FirebirdServer&) = delete;

    bool Running() const { return pid_ > 0; }
    const std::string& Reason() const { return reason_; }
    int Port() const { return port_; }
    // The server's own directory (ends with '/'), a place for its databases.
    const std::string& Directory() const { return dir_; }
    // The connection string of a database file in the server's directory:
    // "127.0.0.1/<port>:<dir><file>".
    std::string DatabasePath(const std::string& file) const;
    // The server as the settings and the remote syntax name it:
    // "127.0.0.1/<port>".
    std::string Address() const { return "127.0.0.1/" + std::to_string(port_); }

private:
    bool Prepare(const std::string& password);
    bool WaitForPort();
    void Stop();

    std::string dir_;
    std::string reason_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// Points the program at a server (the variable with the meaning of the
// settings' "Server") for the object's life, then back at the value before.
class ServerVariable {
public:
    explicit ServerVariable(const std::string& server);
    ~ServerVariable();
    ServerVariable(const ServerVariable&) = delete;
    ServerVariable& operator=(const ServerVariable&) = delete;

private:
    bool had_ = false;
    std::string before_;
};

}  // namespace qm::test
