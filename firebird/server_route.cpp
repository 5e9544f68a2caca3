#include "firebird/server_route.h"

#include <cstdlib>
#include <exception>

#include "firebird/client_api.h"
#include "firebird/errors.h"
#include "firebird/param_block.h"
#include "firebird/services.h"

namespace qm {

namespace {

bool IsHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// The host part of a server value ("host" or "host/port").
std::string HostOf(const std::string& server) { return server.substr(0, server.find('/')); }

}  // namespace

bool TServerRoute::IsLocal() const { return IsEmbedded() || IsLoopbackServer(server_); }

std::string TServerRoute::DatabaseString(const std::string& path) const {
    if (IsEmbedded() || NamesServer(path)) return path;
    return server_ + ":" + path;
}

void TServerRoute::ApplyTo(TFbCustomService& service) const {
    if (IsEmbedded()) {
        service.SetProtocol(TProtocol::Local);
    } else {
        service.SetProtocol(TProtocol::TCP);
        service.SetServerName(server_);
    }
}

std::string EffectiveServerSetting(const std::string& setting) {
    const char* env = std::getenv(kServerVariable);
    return StripControl(env != nullptr ? std::string(env) : setting);
}

std::string CheckServerSetting(const std::string& value) {
    if (value.empty()) return {};
    const std::size_t slash = value.find('/');
    const std::string host = value.substr(0, slash);
    if (host.empty()) return "не указано имя или адрес сервера.";
    for (char c : host) {
        if (!IsHostChar(c)) return "недопустимый символ в имени сервера \"" + host + "\".";
    }
    if (slash == std::string::npos) return {};
    const std::string port = value.substr(slash + 1);
    if (port.empty()) return "после \"/\" не указан порт.";
    if (AllDigits(port)) {
        if (port.size() > 5 || std::atoi(port.c_str()) < 1 || std::atoi(port.c_str()) > 65535)
            return "порт " + port + " вне пределов от 1 до 65535.";
        return {};
    }
    for (char c : port) {
        if (!IsHostChar(c) || c == '.') return "недопустимый порт \"" + port + "\".";
    }
    return {};
}

bool IsLocalServerSetting(const std::string& setting) {
    const std::string server = EffectiveServerSetting(setting);
    return server.empty() || IsLoopbackServer(server);
}

bool IsLoopbackServer(const std::string& server) {
    std::string host = LowerAscii(HostOf(server));
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

bool NamesServer(const std::string& database) {
    if (database.find("://") != std::string::npos) return true;
    const std::size_t colon = database.find(':');
    // One character before the colon is a drive letter. A server is "host" or
    // "host/port"; anything else before the colon is a path with a colon in a
    // file name.
    if (colon == std::string::npos || colon < 2) return false;
    const std::string prefix = database.substr(0, colon);
    if (prefix[0] == '/' || prefix.find('\\') != std::string::npos) return false;
    const std::size_t slash = prefix.find('/');
    return slash == std::string::npos || prefix.find('/', slash + 1) == std::string::npos;
}

TServerRoute AttachService(TFbCustomService& service, const std::string& setting) {
    const std::string configured = EffectiveServerSetting(setting);
    const TServerRoute server =
        TServerRoute::Server(configured.empty() ? std::string(kLocalServerName) : configured);
    server.ApplyTo(service);
    try {
        service.SetActive(true);
        return server;
    } catch (const EFbEngineError& e) {
        if (!e.HasEngineErrorCode(isc_network_error) || !IsLoopbackServer(server.ServerName()))
            throw;
    }
    const TServerRoute embedded = TServerRoute::Embedded();
    embedded.ApplyTo(service);
    service.SetActive(true);
    return embedded;
}

TServerProbe ProbeServerRoute(const std::string& setting, const std::string& libraryName,
                              const std::string& password, bool askVersion) {
    TServerProbe probe;
    const std::string configured = EffectiveServerSetting(setting);
    probe.Asked = configured.empty() ? std::string(kLocalServerName) : configured;
    try {
        TFbServerInfoService svc(nullptr, "");
        svc.LoginPrompt = false;
        svc.SetLibraryName(libraryName);
        TServerRoute::Server(probe.Asked).ApplyTo(svc);
        svc.SetParams({"user_name=sysdba", "password=" + password});
        try {
            svc.SetActive(true);
        } catch (const EFbEngineError& e) {
            if (e.HasEngineErrorCode(isc_network_error) && IsLoopbackServer(probe.Asked)) {
                probe.Route = TServerRoute::Embedded();
                return probe;
            }
            probe.Route = TServerRoute::Server(probe.Asked);
            probe.Error = e.Message();
            return probe;
        }
        probe.Route = TServerRoute::Server(probe.Asked);
        if (askVersion) {
            try {
                probe.Version = svc.ServerVersion();
            } catch (const std::exception& e) {
                probe.Error = e.what();
            }
        }
        if (svc.Active()) svc.SetActive(false);
    } catch (const std::exception& e) {
        if (probe.Route.IsEmbedded()) probe.Error = e.what();
    }
    return probe;
}

}  // namespace qm
