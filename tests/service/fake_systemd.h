#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "service/service_control.h"
#include "tests/support/temp_dir.h"

namespace qm::test {

// Puts the stand-in systemctl first on the PATH for the life of the object,
// with a fresh state folder and a fresh unit folder, and restores the
// environment afterwards.
class FakeSystemd {
public:
    FakeSystemd() {
        Save("PATH");
        Save(kUnitDirVariable);
        Save("QM_FAKE_SYSTEMCTL_STATE");
        const char* path = std::getenv("PATH");
        std::string newPath = std::string(QM_FAKE_SYSTEMCTL_DIR) + ":" + (path ? path : "");
        ::setenv("PATH", newPath.c_str(), 1);
        ::setenv(kUnitDirVariable, units.Path().c_str(), 1);
        ::setenv("QM_FAKE_SYSTEMCTL_STATE", state.Path().c_str(), 1);
    }
    ~FakeSystemd() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->had)
                ::setenv(it->name.c_str(), it->value.c_str(), 1);
            else
                ::unsetenv(it->name.c_str());
        }
    }
    FakeSystemd(const FakeSystemd&) = delete;
    FakeSystemd& operator=(const FakeSystemd&) = delete;

    static constexpr const char* kUnit = "quillmoor.service";

    std::string UnitFile() const { return units.File(kUnit); }

    // Sets what systemd reports for the unit; a unit that is loaded is one
    // whose file systemd has read.
    void SetUnit(bool loaded, const std::string& active, const std::string& sub = "dead",
                 const std::string& freezer = "running") {
        if (loaded)
            WriteFile(state.File(std::string(kUnit) + ".loaded"), "");
        else
            std::remove(state.File(std::string(kUnit) + ".loaded").c_str());
        WriteFile(state.File(std::string(kUnit) + ".active"), active + "\n");
        WriteFile(state.File(std::string(kUnit) + ".sub"), sub + "\n");
        WriteFile(state.File(std::string(kUnit) + ".freezer"), freezer + "\n");
    }
    // An installed unit: its file in the unit folder, loaded and enabled.
    void Install(const std::string& active = "inactive", const std::string& sub = "dead") {
        WriteFile(UnitFile(), "[Service]\nExecStart=/bin/true\n");
        WriteFile(state.File(std::string(kUnit) + ".enabled"), "");
        SetUnit(true, active, sub);
    }
    bool Enabled() const { return Exists(std::string(kUnit) + ".enabled"); }
    bool Loaded() const { return Exists(std::string(kUnit) + ".loaded"); }
    std::string Active() const {
        return Trim(ReadFile(state.File(std::string(kUnit) + ".active")));
    }

    // The verbs systemctl is refused, as for a user without rights.
    void Deny(const std::string& verbs) { WriteFile(state.File("deny"), verbs); }
    // What the next start leaves: "ActiveState SubState".
    void StartLeaves(const std::string& states) { WriteFile(state.File("start.result"), states); }

    // Every call's arguments, in order; ClearCalls forgets them.
    std::vector<std::string> Calls() const {
        std::vector<std::string> out;
        std::istringstream in(ReadFile(state.File("calls")));
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }
    // The calls that change something (all but show).
    std::vector<std::string> Requests() const {
        std::vector<std::string> out;
        for (auto& c : Calls())
            if (c.rfind("show ", 0) != 0) out.push_back(c);
        return out;
    }
    void ClearCalls() { WriteFile(state.File("calls"), ""); }

    TempDir state;
    TempDir units;

private:
    struct Saved {
        std::string name;
        bool had;
        std::string value;
    };
    void Save(const std::string& name) {
        const char* v = std::getenv(name.c_str());
        saved_.push_back({name, v != nullptr, v ? v : ""});
    }
    bool Exists(const std::string& name) const { return std::ifstream(state.File(name)).good(); }
    static std::string Trim(std::string s) {
        while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
        return s;
    }
    std::vector<Saved> saved_;
};

}  // namespace qm::test
