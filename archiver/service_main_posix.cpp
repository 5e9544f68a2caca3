#ifndef _WIN32

// The service under systemd: a notify service that tells systemd when it is
// ready and when it stops. Signals are taken by this thread alone (they are
// blocked everywhere else, the engine's threads included), so a stop request
// never interrupts a client-library call.

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "archiver/service_main.h"

namespace qm::archiver {

namespace {

// One message to systemd's notification socket; nothing outside systemd.
void NotifySystemd(const std::string& message) {
    const char* path = std::getenv("NOTIFY_SOCKET");
    if (path == nullptr || (path[0] != '/' && path[0] != '@')) return;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::size_t len = std::strlen(path);
    if (len >= sizeof addr.sun_path) return;
    std::memcpy(addr.sun_path, path, len);
    if (path[0] == '@') addr.sun_path[0] = '\0';  // an abstract socket
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr),
             static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len));
    ::close(fd);
}

}  // namespace

int RunStoppable(const std::function<int()>& work, const TStopHooks& hooks) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    const int sfd = ::signalfd(-1, &set, SFD_CLOEXEC);
    const int done = ::eventfd(0, EFD_CLOEXEC);
    if (sfd < 0 || done < 0) {
        std::fprintf(stderr, "QuillmoorService: signalfd/eventfd: %s\n", std::strerror(errno));
        return kExitFailed;
    }

    std::atomic<int> rc{kExitFailed};
    std::thread worker([&] {
        rc = work();
        const std::uint64_t one = 1;
        if (::write(done, &one, sizeof one) < 0) {
            // The waiting thread then learns of the end at its next wake.
        }
    });

    using Clock = std::chrono::steady_clock;
    bool stopping = false;
    Clock::time_point stopAt, lastStop;
    for (;;) {
        int timeout = -1;
        if (stopping) timeout = 200;
        pollfd fds[2] = {{done, POLLIN, 0}, {sfd, POLLIN, 0}};
        const int n = ::poll(fds, 2, timeout);
        if (n < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) break;
        if (fds[1].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(sfd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                if (info.ssi_signo == SIGHUP) {
                    if (hooks.Reload) hooks.Reload();
                } else if (!stopping) {
                    stopping = true;
                    stopAt = lastStop = Clock::now();
                    if (hooks.Stop) hooks.Stop();
                }
            }
        }
        if (stopping) {
            const auto now = Clock::now();
            if (now - stopAt >= kStopBound) {
                if (hooks.GiveUp)
                    hooks.GiveUp(std::chrono::duration<double>(now - stopAt).count());
                std::fflush(nullptr);
                // The worker is stuck in the client library; nothing of the
                // process is worth unwinding.
                ::_exit(kExitFailed);
            }
            if (now - lastStop >= std::chrono::seconds(1)) {
                lastStop = now;
                if (hooks.Stop) hooks.Stop();
            }
        }
    }
    worker.join();
    ::close(sfd);
    ::close(done);
    return rc;
}

int RunService(TAutoArchiver& archiver) {
    archiver.OnReady = [] { NotifySystemd("READY=1\nSTATUS=Автоархивация работает"); };
    bool told = false;
    TStopHooks hooks;
    hooks.Stop = [&] {
        if (!told) NotifySystemd("STOPPING=1");
        told = true;
        archiver.Stop();
    };
    hooks.Reload = [&] { archiver.Reload(); };
    hooks.GiveUp = [&](double waited) { archiver.GiveUp(waited); };
    return RunStoppable([&] { return archiver.Run(); }, hooks);
}

}  // namespace qm::archiver

#endif  // _WIN32
