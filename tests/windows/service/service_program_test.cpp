// QuillmoorService.exe as Wine's service control manager runs it: installed,
// started, seen running, stopped and removed through the service operations,
// with its event log beside it (the manager passes no environment of the
// test, so the service's files are those of its own directory).

#include <gtest/gtest.h>

#include <string>

#include "archiver/system.h"
#include "platform/exe_version.h"
#include "platform/text_encoding.h"
#include "platform/version.h"
#include "service/service_control.h"
#include "tests/support/temp_dir.h"
#include "tests/windows/service/scm_fixture.h"

namespace qm {
namespace {

using test::ServiceCleanup;
using test::UniqueServiceName;

// The build's path of the service program, as Wine names a Linux path.
std::string BuiltServiceExe() {
    std::string p = QM_SERVICE_EXE;
    if (!p.empty() && p.front() == '/') p = "Z:" + p;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

// Polls the manager until the service reaches the state; about 30 s at most,
// far beyond what a start or a stop of an idle service takes.
std::uint32_t WaitForState(const std::string& name, std::uint32_t state) {
    qm::SERVICE_STATUS s;
    for (int i = 0; i < 300; ++i) {
        ServiceGetStatus(name, s);
        if (s.dwCurrentState == state) break;
        ::Sleep(100);
    }
    return s.dwCurrentState;
}

// The service program copied into the directory, with an empty list of
// databases beside it; its path.
std::string PlaceProgram(const test::TempDir& dir) {
    const std::string exe = dir.File("QuillmoorService.exe");
    EXPECT_TRUE(::CopyFileA(BuiltServiceExe().c_str(), exe.c_str(), TRUE)) << BuiltServiceExe();
    test::WriteFile(dir.File("Quillmoor.bse"), "");
    return exe;
}

TEST(ServiceProgramWin, CarriesTheProjectVersion) {
    const auto v = platform::ExecutableFileVersion(BuiltServiceExe());
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ((*v)[0], platform::kVersion[0]);
    EXPECT_EQ((*v)[1], platform::kVersion[1]);
    EXPECT_EQ((*v)[2], platform::kVersion[2]);
    EXPECT_EQ((*v)[3], platform::kVersion[3]);
}

TEST(ServiceProgramWin, RunsUnderTheManagerFromStartToRemoval) {
    test::TempDir dir;
    const std::string exe = PlaceProgram(dir);

    ServiceCleanup svc(UniqueServiceName("Program"));
    ASSERT_TRUE(ServiceInstall(svc.Name(), "Quillmoor program test", exe, "end-to-end test"));
    ASSERT_TRUE(ServiceStart(svc.Name()));
    ASSERT_EQ(WaitForState(svc.Name(), kServiceRunning), kServiceRunning);
    // A running service is not started a second time.
    EXPECT_FALSE(ServiceStart(svc.Name()));

    const std::string log = test::ReadFile(dir.File("Quillmoor.log"));
    EXPECT_NE(
        log.find(platform::Utf8ToSystem8Bit("Служба автоархивации запущена. Баз в списке: 0")),
        std::string::npos)
        << log;

    ASSERT_TRUE(ServiceStop(svc.Name()));
    ASSERT_EQ(WaitForState(svc.Name(), kServiceStopped), kServiceStopped);
    qm::SERVICE_STATUS s;
    ServiceGetStatus(svc.Name(), s);
    EXPECT_EQ(s.dwWin32ExitCode, 0u);
    EXPECT_NE(test::ReadFile(dir.File("Quillmoor.log"))
                  .find(platform::Utf8ToSystem8Bit("Служба автоархивации остановлена.")),
              std::string::npos);

    EXPECT_TRUE(ServiceUninstall(svc.Name()));
    EXPECT_FALSE(ServiceExists(svc.Name()));
}

// Run from a console rather than by the manager, the program does the same
// work in the foreground. Wine's dispatcher, asked outside the manager while
// a service runs, takes the control pipe of that service for its own and
// waits on it for ever instead of refusing. (Ctrl-C does not reach a child
// of a test under Wine, so the process is ended from here.)
TEST(ServiceProgramWin, RunFromConsoleWorksInTheForegroundWhileTheServiceRuns) {
    test::TempDir serviceDir;
    ServiceCleanup svc(UniqueServiceName("Beside"));
    ASSERT_TRUE(ServiceInstall(svc.Name(), "Quillmoor console test", PlaceProgram(serviceDir), ""));
    ASSERT_TRUE(ServiceStart(svc.Name()));
    ASSERT_EQ(WaitForState(svc.Name(), kServiceRunning), kServiceRunning);

    test::TempDir dir;
    const std::string exe = PlaceProgram(dir);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string cmd = "\"" + exe + "\"";
    ASSERT_TRUE(::CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 dir.Path().c_str(), &si, &pi));
    const std::string started = platform::Utf8ToSystem8Bit("Служба автоархивации запущена.");
    bool running = false;
    bool exited = false;
    for (int i = 0; i < 300 && !running && !exited; ++i) {
        running = test::ReadFile(dir.File("Quillmoor.log")).find(started) != std::string::npos;
        exited = ::WaitForSingleObject(pi.hProcess, running ? 0 : 100) == WAIT_OBJECT_0;
    }
    EXPECT_TRUE(running) << test::ReadFile(dir.File("Quillmoor.log"));
    EXPECT_FALSE(exited);
    ::TerminateProcess(pi.hProcess, 99);
    ::WaitForSingleObject(pi.hProcess, 10000);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
}

}  // namespace
}  // namespace qm
