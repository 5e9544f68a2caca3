// Figures of the idle service: the processor time the running QuillmoorService
// spends between runs (it wakes once a minute to re-read the register and the
// settings) and its resident memory. Goals: no processor use to speak of, and
// under 15 MB resident.
//
// Usage: idle_bench [seconds] (default 125: two of its minute wakes).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <thread>

#include "bench/bench_support.h"

namespace {

// utime + stime of the process in seconds.
double ProcessCpuSeconds(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::istringstream in(s.substr(s.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A "VmRSS:" style line of /proc/<pid>/status, in kB.
long StatusKb(pid_t pid, const std::string& key) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(f, line);)
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace qm::bench;
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 125;
    const std::string dir = ScratchDirectory("quillmoor-idle-bench");
    // Twenty active records whose times are hours away.
    std::string reg;
    const std::time_t later = std::time(nullptr) + 5 * 3600;
    std::tm tm{};
    localtime_r(&later, &tm);
    char when[8];
    std::strftime(when, sizeof when, "%H:%M", &tm);
    for (int i = 0; i < 20; ++i) {
        reg += '[';
        reg += std::to_string(i) + "]\nActive=1\nDiscription=База " + std::to_string(i) +
               "\nDBFile=" + dir + "db" + std::to_string(i) + ".fdb\nArcDir=" + dir +
               "\nDoZIP=1\nArcArcFileCountDir=5\nMon=1\nTue=1\nWed=1\nThu=1\nFri=1\nSat=1\nSun=1\n"
               "BackupTime0=" + when + "\n";
    }
    WriteText(dir + "Quillmoor.bse", reg);
    std::filesystem::remove(dir + "Quillmoor.log");
    std::filesystem::remove(dir + "QuillmoorService.state");

    const std::string data = "QUILLMOOR_DATA_DIR=" + dir;
    std::vector<char*> envp;
    std::string server = "QUILLMOOR_FIREBIRD_SERVER=127.0.0.1/1";
    std::string copy = data;
    envp.push_back(copy.data());
    envp.push_back(server.data());
    envp.push_back(nullptr);
    std::string exe = QM_SERVICE_EXE;
    char* args[] = {exe.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &fa, nullptr, args, envp.data()) != 0) {
        std::fprintf(stderr, "cannot start %s\n", exe.c_str());
        return 1;
    }
    std::printf("idle benchmark: %s with 20 active records, %d s\n", exe.c_str(), seconds);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double cpu0 = ProcessCpuSeconds(pid);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = ProcessCpuSeconds(pid) - cpu0;
    const double wall = SecondsSince(start);
    const long rss = StatusKb(pid, "VmRSS:"), peak = StatusKb(pid, "VmHWM:");
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    std::printf("processor time while idle: %.3f s in %.0f s (%.4f %% of one core)\n", cpu, wall,
                100 * cpu / wall);
    std::printf("resident memory: %.1f MB (peak %.1f MB; goal under 15 MB: %s)\n", rss / 1024.0,
                peak / 1024.0, peak >= 0 && peak < 15 * 1024 ? "met" : "not met");
    std::printf("exit status after SIGTERM: %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return 0;
}
