// Why a port did not open, each cause as the system gives it: a name that
// names nothing, a port another line holds, and a device this user may not
// use (as an unprivileged user, which a test run as root becomes in a child).
#include "link/open_failure.h"
#include "session/qt_serial_line.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using kelvane::link::OpenError;
using kelvane::link::OpenFailure;

namespace {

// A pty the test holds the far end of; `path` is the end a program opens.
struct Pty {
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) path = ::ptsname(master);
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
    int master = -1;
    std::string path;
};

// The cause an unprivileged user gets for `path`: in a child that gives up
// root when the test runs as root.
OpenFailure causeAsUnprivilegedUser(const std::string& path) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
        ::_exit(static_cast<int>(kelvane::link::openFailureCause(path, OpenError::AccessDenied)));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? static_cast<OpenFailure>(WEXITSTATUS(status)) : OpenFailure::Unknown;
}

}  // namespace

TEST(OpenFailure, EachCauseIsToldApart) {
    for (const char* name : {"/nonexistent/ttyUSB0", "ttyNoSuchPort7", ""}) {
        kelvane::session::QtSerialLine line;
        EXPECT_FALSE(line.open(name));
        EXPECT_EQ(line.openFailure(), OpenFailure::NoSuchPort) << name;
    }

    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    kelvane::session::QtSerialLine holder, second;
    ASSERT_TRUE(holder.open(pty.path));
    EXPECT_EQ(holder.openFailure(), OpenFailure::None);
    EXPECT_FALSE(second.open(pty.path));
    EXPECT_EQ(second.openFailure(), OpenFailure::Busy);
    holder.close();

    // The far end's device belongs to root or to this user; with its mode
    // taken away nobody but root may open it.
    ASSERT_EQ(::chmod(pty.path.c_str(), 0600), 0);
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(pty.path.c_str(), 0), 0);
    }
    const OpenFailure denied = causeAsUnprivilegedUser(pty.path);
    if (denied == static_cast<OpenFailure>(100)) GTEST_SKIP() << "cannot become an unprivileged user";
    EXPECT_EQ(denied, OpenFailure::NoPermission);
    EXPECT_EQ(kelvane::link::openFailureCause("/nonexistent/ttyUSB0", OpenError::AccessDenied), OpenFailure::NoSuchPort);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
