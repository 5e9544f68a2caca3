#pragma once

#include <string>

// Where the system's attachments and service requests go. A database file
// that a running Firebird server holds can only be reached through that
// server: the engine inside this process cannot open it. So a request goes to
// the local server when one answers, and to the embedded engine only when
// none does.
namespace qm {

class TFbCustomService;

// Environment variable with the meaning of the settings' "Server" value; when
// it is set, it is used in place of the setting.
inline constexpr const char* kServerVariable = "QUILLMOOR_FIREBIRD_SERVER";

// The server the local server is asked under when the setting is empty.
inline constexpr const char* kLocalServerName = "localhost";

class TServerRoute {
public:
    // The engine inside this process.
    static TServerRoute Embedded() { return TServerRoute(std::string()); }
    // A server, named as Firebird's remote syntax takes it: "host" or
    // "host/port".
    static TServerRoute Server(std::string name) { return TServerRoute(std::move(name)); }

    bool IsEmbedded() const { return server_.empty(); }
    // The embedded engine or a server of this machine: its database files
    // are this machine's files.
    bool IsLocal() const;
    // "" for the embedded engine.
    const std::string& ServerName() const { return server_; }

    // The connection string of a database: the path as it is for the embedded
    // engine or when it already names a server, otherwise "server:path" (the
    // path is then the server's own path).
    std::string DatabaseString(const std::string& path) const;

    // Points a service component at the route: the server's service manager
    // over TCP, or the local one of the embedded engine. Raises client error
    // 66 while the component is attached.
    void ApplyTo(TFbCustomService& service) const;

    bool operator==(const TServerRoute&) const = default;

private:
    explicit TServerRoute(std::string server) : server_(std::move(server)) {}
    std::string server_;
};

// The server value in effect: the environment variable when it is set,
// otherwise the setting; blanks around it removed.
std::string EffectiveServerSetting(const std::string& setting);

// Why a server value cannot be used, or "" when it can: empty, "host" or
// "host/port", the host a name or an address without blanks, colons or
// slashes, the port a number from 1 to 65535 or a service name.
std::string CheckServerSetting(const std::string& value);

// True when the server value in effect (EffectiveServerSetting) is this
// machine's server: empty, or a loopback host.
bool IsLocalServerSetting(const std::string& setting);

// True for a host of this machine: "localhost", an address 127.x.x.x or ::1.
bool IsLoopbackServer(const std::string& server);

// True when a database string already names its server ("host:path",
// "host/port:path", "inet://..."); a drive letter ("C:\...") names none.
bool NamesServer(const std::string& database);

// What asking for the route found out.
struct TServerProbe {
    TServerRoute Route = TServerRoute::Embedded();
    // The server that was asked ("localhost" for an empty setting).
    std::string Asked;
    // The server's version text, when it answered and let SYSDBA in.
    std::string Version;
    // The server's answer when it refused (a wrong password, for one), or the
    // network error of a server that cannot be reached and is not local.
    std::string Error;
};

// Attaches to the configured server's service manager (SYSDBA with the
// password, through the client library) and, with askVersion, asks for its
// version. A server that answers, even
// with a refusal, is the route. One that cannot be reached over the network
// gives the embedded engine when it is a server of this machine, and stays
// the route (its requests will fail with that error) when it is not. Never
// raises: a client library that cannot be loaded gives the embedded route
// with the loading error, which the operation itself will meet again.
TServerProbe ProbeServerRoute(const std::string& setting, const std::string& libraryName,
                              const std::string& password, bool askVersion = false);

// Attaches the service component to the configured server's service manager
// (the local server for an empty setting); a server of this machine that
// cannot be reached over the network gives the embedded engine's service
// manager instead. Unlike ProbeServerRoute this costs nothing when the server
// answers: the attachment is the one the work goes over. Raises what the
// attach raises; the route the component is attached through otherwise.
TServerRoute AttachService(TFbCustomService& service, const std::string& setting);

}  // namespace qm
