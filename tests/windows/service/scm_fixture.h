#pragma once

// What the service tests share: a service name of their own for every run, so
// that a rerun in the same Wine prefix meets nothing left by an earlier one,
// and the registration removed whatever happens in the test.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <random>
#include <string>

#include "service/service_control.h"

namespace qm::test {

inline std::string UniqueServiceName(const std::string& stem) {
    std::random_device rd;
    return "QmTest" + stem + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(rd());
}

// Stops (when running) and removes the service when the test ends.
class ServiceCleanup {
public:
    explicit ServiceCleanup(std::string name) : name_(std::move(name)) {}
    ~ServiceCleanup() {
        if (!ServiceExists(name_)) return;
        ServiceStop(name_);
        for (int i = 0; i < 100; ++i) {
            qm::SERVICE_STATUS s;
            ServiceGetStatus(name_, s);
            if (s.dwCurrentState == kServiceStopped || s.dwCurrentState == kServiceStateUnknown)
                break;
            ::Sleep(100);
        }
        ServiceUninstall(name_);
    }
    ServiceCleanup(const ServiceCleanup&) = delete;
    ServiceCleanup& operator=(const ServiceCleanup&) = delete;
    const std::string& Name() const { return name_; }

private:
    std::string name_;
};

}  // namespace qm::test
