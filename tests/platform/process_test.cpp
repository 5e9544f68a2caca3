// The standard input while a library that reads it on its own runs: the null
// device meanwhile, the process's own input afterwards.

#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace qm::platform {
namespace {

// Reads what is there now; "" at the end of the input, "(error)" on a failure.
std::string ReadStandardInput() {
    char buf[64];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    return n < 0 ? "(error)" : std::string(buf, static_cast<std::size_t>(n));
}

// Gives the test program its own standard input back whatever a test did.
class StandardInput : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GE(saved_, 0); }
    void TearDown() override {
        ::dup2(saved_, STDIN_FILENO);
        ::close(saved_);
    }
    const int saved_ = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
};

TEST_F(StandardInput, NullMeanwhileThenTheSameInputAgain) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "abc", 3), 3);
    ::close(fds[1]);
    ::dup2(fds[0], STDIN_FILENO);
    ::close(fds[0]);
    {
        const StandardInputFromNull detached;
        EXPECT_EQ(ReadStandardInput(), "");
    }
    EXPECT_EQ(ReadStandardInput(), "abc");
}

TEST_F(StandardInput, ClosedInputIsNullMeanwhileAndClosedAgain) {
    ::close(STDIN_FILENO);
    {
        const StandardInputFromNull detached;
        EXPECT_EQ(ReadStandardInput(), "");
        // A program started meanwhile gets it as its standard input too.
        EXPECT_EQ(::fcntl(STDIN_FILENO, F_GETFD) & FD_CLOEXEC, 0);
    }
    EXPECT_EQ(::fcntl(STDIN_FILENO, F_GETFD), -1);
}

}  // namespace
}  // namespace qm::platform
