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

private:
    bool Prepare(const std::string& password);
    bool WaitForPort();
    void Stop();

    std::string dir_;
    std::string reason_;
    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace qm::test
