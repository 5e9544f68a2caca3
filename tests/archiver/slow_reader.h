#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace qm::test {

// A FIFO in place of an archive's temporary file: the backup that writes
// into it goes only as fast as this reader takes its bytes (about 200 KB a
// second), long enough to be stopped or killed midway. The FIFO is held open
// from the start, so the writer never waits to open it, and the reader ends
// on its own when the writer goes or the object does.
class SlowReader {
public:
    explicit SlowReader(std::string fifo) : fifo_(std::move(fifo)) {
        EXPECT_EQ(::mkfifo(fifo_.c_str(), 0666), 0) << fifo_;
        fd_ = ::open(fifo_.c_str(), O_RDONLY | O_NONBLOCK);
        EXPECT_GE(fd_, 0) << fifo_;
        thread_ = std::thread([this] { Read(); });
    }
    ~SlowReader() {
        quit_ = true;
        thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    SlowReader(const SlowReader&) = delete;
    SlowReader& operator=(const SlowReader&) = delete;

    std::size_t Got() const { return got_; }
    bool WaitFor(std::size_t bytes, int seconds) const {
        for (int i = 0; i < seconds * 20 && got_ < bytes; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return got_ >= bytes;
    }

private:
    void Read() {
        char buf[4096];
        while (!quit_ && fd_ >= 0) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            if (p.revents & POLLIN) {
                const ssize_t n = ::read(fd_, buf, sizeof buf);
                if (n == 0) break;  // the writer has gone
                if (n > 0) got_ += static_cast<std::size_t>(n);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            } else if (p.revents & (POLLHUP | POLLERR)) {
                break;
            }
        }
    }

    std::string fifo_;
    int fd_ = -1;
    std::thread thread_;
    std::atomic<std::size_t> got_{0};
    std::atomic<bool> quit_{false};
};

}  // namespace qm::test
