#include "service/service_control.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/files.h"
#include "tests/service/fake_systemd.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using test::FakeSystemd;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char* const kName = "Quillmoor";
const char* const kDisplay = "Автоархиватор Firebird";
const char* const kDescription = "Служба для автоматической архивации баз данных Firebird - x";

std::uint32_t State() {
    SERVICE_STATUS s;
    s.dwCurrentState = 99;
    s.dwWaitHint = 99;
    ServiceGetStatus(kName, s);
    EXPECT_EQ(s.dwWaitHint, 0u);
    return s.dwCurrentState;
}

std::string UnitText(const std::string& execStart) {
    return "# Служба для автоматической архивации баз данных Firebird - x\n"
           "[Unit]\n"
           "Description=Автоархиватор Firebird\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           "ExecStart=" +
           execStart +
           "\n"
           "TimeoutStopSec=30\n"
           "Restart=on-failure\n"
           "RestartSec=30\n"
           "RestartPreventExitStatus=2 3\n"
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
}

class ServiceControlTest : public ::testing::Test {
protected:
    FakeSystemd sd;
};

TEST_F(ServiceControlTest, ServiceThatIsNotInstalledAnswersFalseEverywhere) {
    EXPECT_FALSE(ServiceExists(kName));
    EXPECT_EQ(State(), 0u);
    EXPECT_FALSE(ServiceStart(kName));
    EXPECT_FALSE(ServiceStop(kName));
    EXPECT_FALSE(ServiceUninstall(kName));
    EXPECT_THAT(sd.Requests(), IsEmpty());
}

TEST_F(ServiceControlTest, InstallWritesTheUnitReloadsAndEnables) {
    // A strict umask must not make the unit unreadable for systemctl's users.
    const mode_t umask = ::umask(077);
    const bool installed =
        ServiceInstall(kName, kDisplay, "/opt/Quill moor/QuillmoorService", kDescription);
    ::umask(umask);
    ASSERT_TRUE(installed);

    EXPECT_EQ(test::ReadFile(sd.UnitFile()), UnitText("\"/opt/Quill moor/QuillmoorService\""));
    struct stat st;
    ASSERT_EQ(::stat(sd.UnitFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u) << "a unit file others may change runs their code as root";
    EXPECT_THAT(sd.Requests(), ElementsAre("--no-ask-password daemon-reload",
                                           "--no-ask-password enable quillmoor.service"));
    EXPECT_TRUE(sd.Enabled());
    EXPECT_TRUE(ServiceExists(kName));
    EXPECT_EQ(State(), kServiceStopped);
}

// The path is one quoted word of ExecStart=, as systemd reads it; a path that
// systemd cannot run whatever the escaping is refused with nothing written.
TEST_F(ServiceControlTest, ExecutablePathIsWrittenAsOneWordOrRefused) {
    struct Row {
        std::string path;
        std::string execStart;  // "" when the install is refused
    } rows[] = {
        {"/opt/Quill moor/QuillmoorService", "\"/opt/Quill moor/QuillmoorService\""},
        {"/opt/100% archive/svc", "\"/opt/100%% archive/svc\""},
        {"/opt/Архиватор/svc", "\"/opt/Архиватор/svc\""},
        {"/opt/\xff\xd0/svc", "\"/opt/\\xff\\xd0/svc\""},
        {"/opt/$HOME ; x/svc", "\"/opt/$HOME ; x/svc\""},
        {"QuillmoorService", ""},
        {"", ""},
        {"/opt/a\"b/svc", ""},
        {"/opt/it's/svc", ""},
        {"/opt/a\\b/svc", ""},
        {"/opt/a\nExecStartPre=/tmp/evil/svc", ""},
        {"/opt/a\tb/svc", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.path);
        std::remove(sd.UnitFile().c_str());
        sd.SetUnit(false, "inactive");
        sd.ClearCalls();
        bool ok = ServiceInstall(kName, kDisplay, r.path, kDescription);
        if (r.execStart.empty()) {
            EXPECT_FALSE(ok);
            EXPECT_FALSE(platform::FileExists(sd.UnitFile()));
            EXPECT_THAT(sd.Requests(), IsEmpty());
        } else {
            EXPECT_TRUE(ok);
            EXPECT_EQ(test::ReadFile(sd.UnitFile()), UnitText(r.execStart));
        }
    }
}

TEST_F(ServiceControlTest, TextsThatWouldChangeTheUnitAreRefused) {
    struct Row {
        std::string display, description;
        bool ok;
    } rows[] = {
        {"Архиватор 100%", "Служба", true},
        {"Архиватор\nExecStartPre=/tmp/evil", "Служба", false},
        {"Архиватор", "Служба\n[Service]\nExecStartPre=/tmp/evil", false},
        {"Архиватор", "Служба\\", false},
        {"Архиватор\\", "Служба", false},
        {"Архиватор \xff", "Служба", false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.display + " / " + r.description);
        std::remove(sd.UnitFile().c_str());
        sd.SetUnit(false, "inactive");
        EXPECT_EQ(ServiceInstall(kName, r.display, "/opt/svc", r.description), r.ok);
        EXPECT_EQ(platform::FileExists(sd.UnitFile()), r.ok);
    }
    // '%' starts a specifier in Description=.
    sd.SetUnit(false, "inactive");
    std::remove(sd.UnitFile().c_str());
    ASSERT_TRUE(ServiceInstall(kName, "Архиватор 100%", "/opt/svc", "Служба"));
    EXPECT_THAT(test::ReadFile(sd.UnitFile()),
                ::testing::HasSubstr("Description=Архиватор 100%%\n"));
}

// systemd's own parser (offline) reads the written unit and finds the
// executable at its path.
// The service must read the register the manager writes: a manager run with
// a data directory of its own hands it to the service.
TEST_F(ServiceControlTest, TheManagersDataDirectoryGoesIntoTheUnit) {
    struct Row {
        std::string dir, line;  // line "": the install is refused
    } rows[] = {
        {"/srv/quill moor/", "Environment=\"QUILLMOOR_DATA_DIR=/srv/quill moor/\"\n"},
        {"/srv/100%", "Environment=\"QUILLMOOR_DATA_DIR=/srv/100%%\"\n"},
        {"/srv/a\"b", ""},
        {"/srv/a\\b", ""},
        {"/srv/a\nExecStartPre=/tmp/evil", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.dir);
        test::ScopedDataDir dataDir(r.dir);
        std::remove(sd.UnitFile().c_str());
        sd.SetUnit(false, "inactive");
        EXPECT_EQ(ServiceInstall(kName, kDisplay, "/opt/svc", kDescription), !r.line.empty());
        if (!r.line.empty()) {
            EXPECT_THAT(test::ReadFile(sd.UnitFile()),
                        ::testing::HasSubstr("ExecStart=\"/opt/svc\"\n" + r.line + "TimeoutStopSec="));
        }
    }
}

TEST_F(ServiceControlTest, SystemdAcceptsTheWrittenUnit) {
    if (std::system("command -v systemd-analyze >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "systemd-analyze is not installed";
    test::TempDir root;
    for (std::string dir : {"Quill moor", "100% b\xff$HOME ; Архив"}) {
        SCOPED_TRACE(dir);
        std::filesystem::create_directories(root.File(dir));
        std::string exe = root.File(dir) + "/QuillmoorService";
        test::WriteFile(exe, "#!/bin/sh\n");
        std::filesystem::permissions(exe, std::filesystem::perms::owner_all);
        std::remove(sd.UnitFile().c_str());
        sd.SetUnit(false, "inactive");
        ASSERT_TRUE(ServiceInstall(kName, kDisplay, exe, kDescription));

        std::string cmd = "systemd-analyze verify --man=no '" + sd.UnitFile() + "' 2>&1";
        FILE* p = ::popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string out;
        char buf[512];
        while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        int rc = ::pclose(p);
        EXPECT_EQ(rc, 0) << out;
        EXPECT_EQ(out, "");
    }
}

TEST_F(ServiceControlTest, InstallOfAServiceThatExistsChangesNothing) {
    ASSERT_TRUE(ServiceInstall(kName, kDisplay, "/opt/a/svc", kDescription));
    const std::string before = test::ReadFile(sd.UnitFile());
    sd.ClearCalls();
    EXPECT_FALSE(ServiceInstall("QUILLMOOR", "Другое имя", "/opt/b/svc", "Другое описание"));
    EXPECT_EQ(test::ReadFile(sd.UnitFile()), before);
    EXPECT_THAT(sd.Requests(), IsEmpty());

    // A unit file that systemd has not read yet is somebody's registration too.
    test::WriteFile(sd.UnitFile(), "[Service]\nExecStart=/opt/other\n");
    sd.SetUnit(false, "inactive");
    EXPECT_FALSE(ServiceInstall(kName, kDisplay, "/opt/a/svc", kDescription));
    EXPECT_EQ(test::ReadFile(sd.UnitFile()), "[Service]\nExecStart=/opt/other\n");

    // So is a unit systemd knows from another folder.
    std::remove(sd.UnitFile().c_str());
    sd.SetUnit(true, "inactive");
    EXPECT_FALSE(ServiceInstall(kName, kDisplay, "/opt/a/svc", kDescription));
    EXPECT_FALSE(platform::FileExists(sd.UnitFile()));
    EXPECT_THAT(sd.Requests(), IsEmpty());
}

// systemd's states, the state reported for them, and whether a start and a
// stop are accepted in them as the Windows manager would.
TEST_F(ServiceControlTest, StatesMapOntoTheSevenAndGateStartAndStop) {
    struct Row {
        const char* active;
        const char* sub;
        const char* freezer;
        std::uint32_t state;
        bool start, stop;
    } rows[] = {
        {"inactive", "dead", "running", kServiceStopped, true, false},
        {"failed", "failed", "running", kServiceStopped, true, false},
        {"activating", "auto-restart", "running", kServiceStopped, true, false},
        {"activating", "start", "running", kServiceStartPending, false, false},
        {"activating", "start-pre", "running", kServiceStartPending, false, false},
        {"deactivating", "stop-sigterm", "running", kServiceStopPending, false, false},
        {"active", "running", "running", kServiceRunning, false, true},
        {"reloading", "reload", "running", kServiceRunning, false, true},
        {"active", "running", "thawing", kServiceContinuePending, false, false},
        {"active", "running", "freezing", kServicePausePending, false, false},
        {"active", "running", "frozen", kServicePaused, false, true},
        {"maintenance", "cleaning", "running", kServiceStateUnknown, false, false},
    };
    sd.Install();
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.active) + "/" + r.sub + "/" + r.freezer);
        sd.SetUnit(true, r.active, r.sub, r.freezer);
        EXPECT_TRUE(ServiceExists(kName));
        EXPECT_EQ(State(), r.state);

        sd.ClearCalls();
        EXPECT_EQ(ServiceStart(kName), r.start);
        if (r.start)
            EXPECT_THAT(sd.Requests(),
                        ElementsAre("--no-ask-password --no-block start quillmoor.service"));
        else
            EXPECT_THAT(sd.Requests(), IsEmpty());

        sd.SetUnit(true, r.active, r.sub, r.freezer);
        sd.ClearCalls();
        EXPECT_EQ(ServiceStop(kName), r.stop);
        if (r.stop)
            EXPECT_THAT(sd.Requests(),
                        ElementsAre("--no-ask-password --no-block stop quillmoor.service"));
        else
            EXPECT_THAT(sd.Requests(), IsEmpty());
    }
}

TEST_F(ServiceControlTest, StartAndStopReturnWithoutWaitingForTheNewState) {
    sd.Install();
    sd.StartLeaves("activating start");
    EXPECT_TRUE(ServiceStart(kName));
    EXPECT_EQ(State(), kServiceStartPending);
    EXPECT_FALSE(ServiceStart(kName));

    sd.SetUnit(true, "active", "running");
    EXPECT_TRUE(ServiceStop(kName));
    EXPECT_EQ(State(), kServiceStopped);
    EXPECT_FALSE(ServiceStop(kName));
}

TEST_F(ServiceControlTest, UninstallDisablesAndRemovesTheUnit) {
    ASSERT_TRUE(ServiceInstall(kName, kDisplay, "/opt/svc", kDescription));
    sd.ClearCalls();
    ASSERT_TRUE(ServiceUninstall(kName));
    EXPECT_THAT(sd.Requests(), ElementsAre("--no-ask-password disable quillmoor.service",
                                           "--no-ask-password daemon-reload"));
    EXPECT_FALSE(platform::FileExists(sd.UnitFile()));
    EXPECT_FALSE(sd.Enabled());
    EXPECT_FALSE(ServiceExists(kName));
    EXPECT_FALSE(ServiceUninstall(kName));
}

TEST_F(ServiceControlTest, RemovedServiceLingersWhileItRuns) {
    ASSERT_TRUE(ServiceInstall(kName, kDisplay, "/opt/svc", kDescription));
    ASSERT_TRUE(ServiceStart(kName));
    ASSERT_TRUE(ServiceUninstall(kName));
    EXPECT_TRUE(ServiceExists(kName));
    EXPECT_EQ(State(), kServiceRunning);
    EXPECT_TRUE(ServiceStop(kName));
    EXPECT_FALSE(ServiceExists(kName));
    EXPECT_EQ(State(), 0u);
}

TEST_F(ServiceControlTest, UnitOfAnotherFolderIsNotRemoved) {
    sd.SetUnit(true, "inactive");
    EXPECT_FALSE(ServiceUninstall(kName));
    EXPECT_THAT(sd.Requests(), IsEmpty());
}

// A user without rights: systemctl refuses and exits non-zero.
TEST_F(ServiceControlTest, RefusedRequestsGiveFalseAndLeaveNoHalfInstall) {
    sd.Deny("daemon-reload\n");
    EXPECT_FALSE(ServiceInstall(kName, kDisplay, "/opt/svc", kDescription));
    EXPECT_FALSE(platform::FileExists(sd.UnitFile()));

    sd.Deny("enable\n");
    EXPECT_FALSE(ServiceInstall(kName, kDisplay, "/opt/svc", kDescription));
    EXPECT_FALSE(platform::FileExists(sd.UnitFile()));
    EXPECT_FALSE(sd.Loaded());

    sd.Deny("start\nstop\ndisable\n");
    sd.Install();
    EXPECT_FALSE(ServiceStart(kName));
    EXPECT_FALSE(ServiceUninstall(kName));
    EXPECT_TRUE(platform::FileExists(sd.UnitFile()));
    EXPECT_TRUE(sd.Enabled());
    sd.SetUnit(true, "active", "running");
    EXPECT_FALSE(ServiceStop(kName));

    // No answer at all (no running systemd): nothing exists, nothing is done.
    sd.Deny("all\n");
    EXPECT_FALSE(ServiceExists(kName));
    EXPECT_EQ(State(), 0u);
    EXPECT_FALSE(ServiceStop(kName));
}

TEST_F(ServiceControlTest, UnitFolderThatCannotBeWrittenRefusesTheInstall) {
    ::setenv(kUnitDirVariable, sd.units.File("missing").c_str(), 1);
    EXPECT_FALSE(ServiceInstall(kName, kDisplay, "/opt/svc", kDescription));
    EXPECT_THAT(sd.Requests(), IsEmpty());
}

TEST_F(ServiceControlTest, WithoutSystemctlEverythingFails) {
    test::TempDir empty;
    ::setenv("PATH", empty.Path().c_str(), 1);
    EXPECT_FALSE(ServiceExists(kName));
    EXPECT_EQ(State(), 0u);
    EXPECT_FALSE(ServiceStart(kName));
    EXPECT_FALSE(ServiceInstall(kName, kDisplay, "/opt/svc", kDescription));
    EXPECT_FALSE(platform::FileExists(sd.UnitFile()));
}

TEST_F(ServiceControlTest, NamesThatCannotBeUnitsReachNoCommand) {
    EXPECT_EQ(SystemdUnitName("Quillmoor"), "quillmoor.service");
    for (std::string name : {"", "Quill moor", "-Quillmoor", "../../tmp/x", "a/b", "a@b"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(SystemdUnitName(name), "");
        EXPECT_FALSE(ServiceExists(name));
        EXPECT_FALSE(ServiceInstall(name, kDisplay, "/opt/svc", kDescription));
        EXPECT_FALSE(ServiceUninstall(name));
    }
    EXPECT_THAT(sd.Calls(), IsEmpty());
}

}  // namespace
}  // namespace qm
