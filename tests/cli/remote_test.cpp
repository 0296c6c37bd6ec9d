// Remote service through real gateways: kvtool over ser2net (RFC 2217) in
// front of the simulators' ptys gives what it gives over the pty itself;
// delays, a stalled and a cut connection end within their bounds; TLS
// (socat in front of ser2net) verifies the gateway before anything moves.
#include "files/data_file.h"
#include "image/image.h"
#include "link/net_line.h"
#include "link/net_port.h"
#include "link/port.h"
#include "tests/cli/remote_helpers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;
using kelvane::Image;
using remotetest::Proxy;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Outcome {
    int exit = -1;
    std::string out, err;
    double seconds = 0;
};

Image imageOf(const fs::path& kvd) {
    auto f = kelvane::loadDataFileFrom(kvd.string());
    return f ? f->image : Image{};
}

class Remote : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* p : {"socat", "ser2net"})
            if (!ptytest::onPath(p)) GTEST_SKIP() << p << " is not installed (scripts/deps.sh installs it)";
        dir = fs::temp_directory_path() / ("remote_test_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // kvtool in the test's folder, its register, key and traces there too.
    Outcome run(std::vector<std::string> args) const {
        const fs::path out = dir / "stdout", err = dir / "stderr";
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(::open("/dev/null", O_RDONLY), 0);
            ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            if (::chdir(dir.c_str()) != 0) ::_exit(126);
            ::setenv("LANG", "C", 1);
            ::setenv("HOME", dir.c_str(), 1);
            ::unsetenv("XDG_DATA_HOME");
            ::unsetenv("XDG_CONFIG_HOME");
            ::unsetenv("KELVANE_GATEWAY_CA");
            ::setenv("KELVANE_REGISTER", (dir / "register.sqlite").c_str(), 1);
            ::setenv("KELVANE_KEY_FILE", (dir / "data.key").c_str(), 1);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            args.insert(args.begin(), KVTOOL_PATH);
            args.push_back("--lang");
            args.push_back("en");
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(KVTOOL_PATH, argv.data());
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        Outcome r;
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = slurp(out);
        r.err = slurp(err);
        return r;
    }

    // The controller simulator on a pty pair, ser2net in front of the other end.
    void startController() {
        pair = std::make_unique<ptytest::PtyPair>();
        ASSERT_TRUE(pair->ready());
        std::ofstream(dir / "image.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        sim = std::make_unique<ptytest::Child>(
            std::vector<std::string>{KELVANE_SIM_PATH, "--port", pair->devPath(), "--image",
                                     (dir / "image.bin").string(), "--dump", (dir / "dump.bin").string()},
            true);
        ASSERT_TRUE(sim->waitForLine("ready", 3000));
        gateway = std::make_unique<remotetest::Ser2net>(dir.string(), pair->appPath());
        ASSERT_TRUE(gateway->ready());
    }
    std::string url(int port, const char* scheme = "rfc2217") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
    }
    Image dumped() const {
        const std::string d = slurp(dir / "dump.bin");
        Image img{};
        if (d.size() == img.size()) std::copy(d.begin(), d.end(), img.begin());
        return img;
    }
    // The ports the register's visits of the controller name, newest first.
    std::vector<std::string> visitPorts() const {
        const Outcome show = run({"register", "show", "4660", "--json"});
        std::vector<std::string> ports;
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(show.out)).object();
        for (const auto& v : o["visitList"].toArray()) ports.push_back(v.toObject()["port"].toString().toStdString());
        return ports;
    }

    fs::path dir;
    Image image{};
    std::unique_ptr<ptytest::PtyPair> pair;
    std::unique_ptr<ptytest::Child> sim;
    std::unique_ptr<remotetest::Ser2net> gateway;
};

TEST(NetPort, NamesAreParsedAndJudgedByTheirScheme) {
    using kelvane::link::NetScheme;
    const struct {
        const char* name;
        bool valid;
        const char* host;
        int port;
        bool unencrypted, fixedSpeed;
    } cases[] = {
        {"rfc2217://127.0.0.1:2000", true, "127.0.0.1", 2000, false, false},
        {"rfc2217://gateway.example:4001", true, "gateway.example", 4001, true, false},
        {"rfc2217+tls://gateway.example:4001", true, "gateway.example", 4001, false, false},
        {"socket://[::1]:7000", true, "::1", 7000, false, true},
        {"socket://10.1.2.3:7000", true, "10.1.2.3", 7000, true, true},
        {"rfc2217://localhost:1", true, "localhost", 1, false, false},
        {"rfc2217://host:0", false, "", 0, false, false},
        {"rfc2217://host:65536", false, "", 0, false, false},
        {"rfc2217://host", false, "", 0, false, false},
        {"rfc2217://:2000", false, "", 0, false, false},
        {"rfc2217://::1:2000", false, "", 0, false, false},  // IPv6 needs its brackets
        {"rfc2217://host:20/x", false, "", 0, false, false},
        {"rfc2217://127.0.0.1.evil:2000", true, "127.0.0.1.evil", 2000, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(kelvane::link::isNetPortName(c.name));
        const auto a = kelvane::link::parseNetPort(c.name);
        ASSERT_EQ(a.has_value(), c.valid);
        if (a) {
            EXPECT_EQ(a->host, c.host);
            EXPECT_EQ(a->port, c.port);
        }
        EXPECT_EQ(kelvane::link::crossesNetworkUnencrypted(c.name), c.unencrypted);
        EXPECT_EQ(kelvane::link::hasFixedSpeed(c.name), c.fixedSpeed);
        // A gateway is no Windows device: the name stays as given.
        EXPECT_EQ(kelvane::link::PortName(c.name, true), c.name);
    }
    EXPECT_FALSE(kelvane::link::isNetPortName("COM3"));
    EXPECT_EQ(kelvane::link::PortName("COM3", true), "\\\\.\\COM3");
}

// The settings the programs ask for are the ones ser2net says it applied,
// every one confirmed; a purge is answered too, and the line stays usable.
TEST_F(Remote, TheGatewayAppliesTheSettingsAsked) {
    startController();
    kelvane::link::NetLine line;
    ASSERT_TRUE(line.open(url(gateway->port()))) << static_cast<int>(line.openFailure());
    EXPECT_LT(line.roundTripMs(), 200) << "loopback";
    kelvane::link::LineSettings s;
    const struct {
        int baud;
        kelvane::link::StopBits stop;
    } steps[] = {{2400, kelvane::link::StopBits::One},
                 {2400, kelvane::link::StopBits::Two},
                 {57600, kelvane::link::StopBits::One},
                 {2400, kelvane::link::StopBits::One}};
    for (const auto& step : steps) {
        s.baud = step.baud;
        s.stopBits = step.stop;
        line.setLine(s);
        EXPECT_EQ(line.fault(), kelvane::link::LineFault::None) << step.baud;
        EXPECT_EQ(line.confirmed().baud, step.baud);
        EXPECT_EQ(line.confirmed().stopBits, step.stop);
    }
    line.purgeInput();
    line.purgeOutput();
    EXPECT_EQ(line.fault(), kelvane::link::LineFault::None);
    line.close();
}

// probe, download, upload with the merge and check over the gateway give what
// they give over the pty, and the register names the gateway's port as given.
TEST_F(Remote, KvtoolOverTheGatewayEqualsKvtoolOverThePty) {
    startController();
    std::string remote = url(gateway->port());
    const fs::path a = dir / "a.kvd", b = dir / "b.kvd", edited = dir / "edited.kvd";
    const Outcome probe = run({"probe", "--port", remote});
    EXPECT_EQ(probe.exit, 0) << probe.err;
    EXPECT_NE(probe.out.find("ID 1, serial number 4660"), std::string::npos) << probe.out;
    EXPECT_EQ(probe.err.find("unencrypted"), std::string::npos) << "loopback: no warning";
    ASSERT_EQ(run({"download", "--port", remote, "-o", a.string()}).exit, 0);
    gateway.reset();  // the pty is free again
    ASSERT_EQ(run({"download", "--port", pair->appPath(), "-o", b.string()}).exit, 0);
    EXPECT_EQ(imageOf(a), image);
    EXPECT_EQ(imageOf(b), imageOf(a));

    gateway = std::make_unique<remotetest::Ser2net>(dir.string(), pair->appPath());
    ASSERT_TRUE(gateway->ready());
    const std::string first = remote;
    remote = url(gateway->port());
    Image changed = image;
    changed[kelvane::mem::kParams + 10] ^= 0x01;
    ASSERT_TRUE(kelvane::saveDataFileTo(edited.string(), changed, ""));
    const Outcome up = run({"upload", "--port", remote, edited.string(), "--yes", "--other-controller"});
    EXPECT_EQ(up.exit, 0) << up.out << up.err;
    EXPECT_NE(up.out.find("Blocks sent: 1\n"), std::string::npos) << up.out;
    EXPECT_EQ(dumped(), changed);
    const Outcome differs = run({"check", "--port", remote, a.string()});
    EXPECT_EQ(differs.exit, 6) << differs.err;
    EXPECT_EQ(run({"check", "--port", remote, edited.string()}).exit, 0);

    const std::vector<std::string> ports = visitPorts();
    ASSERT_GE(ports.size(), 3u);
    EXPECT_EQ(std::count(ports.begin(), ports.end(), pair->appPath()), 1);
    EXPECT_EQ(std::count(ports.begin(), ports.end(), first) + std::count(ports.begin(), ports.end(), remote),
              static_cast<long>(ports.size()) - 1);
}

// A delaying proxy between kvtool and ser2net: the round trip is measured and
// waited for; a stalled download and a cut upload end within their bounds.
TEST_F(Remote, DelaysAreWaitedForAndAStallOrCutEndsBounded) {
    startController();
    for (int delay : {0, 50, 150}) {
        SCOPED_TRACE(delay);
        Proxy proxy(gateway->port(), {delay, -1, -1, {}, {}});
        const fs::path a = dir / ("d" + std::to_string(delay) + ".kvd");
        const Outcome down = run({"download", "--port", url(proxy.port()), "-o", a.string()});
        EXPECT_EQ(down.exit, 0) << down.err;
        EXPECT_EQ(imageOf(a), image);
        kelvane::link::NetLine line;
        ASSERT_TRUE(line.open(url(proxy.port())));
        EXPECT_GE(line.roundTripMs(), 2 * delay);
        EXPECT_LT(line.roundTripMs(), 2 * delay + 200);
    }
    {
        Proxy stall(gateway->port(), {0, 4000, -1, {}, {}});  // a few blocks, then silence
        const Outcome down = run({"download", "--port", url(stall.port()), "-o", (dir / "s.kvd").string()});
        EXPECT_EQ(down.exit, 4) << down.err;
        EXPECT_LT(down.seconds, 20.0) << "10 s without a frame";
        EXPECT_FALSE(fs::exists(dir / "s.kvd"));
    }
    {
        Image every = image;
        for (auto& byte : every) byte ^= 0x5A;
        ASSERT_TRUE(kelvane::saveDataFileTo((dir / "all.kvd").string(), every, ""));
        Proxy cut(gateway->port(), {0, -1, 3000, {}, {}});  // the probes, then some blocks
        const Outcome up = run(
            {"upload", "--port", url(cut.port()), (dir / "all.kvd").string(), "--yes", "--full", "--other-controller"});
        EXPECT_EQ(up.exit, 4) << up.err;
        EXPECT_NE(up.err.find("closed the connection"), std::string::npos) << up.err;
        EXPECT_LT(up.seconds, 20.0);
    }
}

// socket:// refuses a flash before the port opens; an unreachable or mute
// gateway ends within the connect time-out, with the reason.
TEST_F(Remote, RefusalsAreSaidBeforeAnythingIsSent) {
    const fs::path fw = dir / "fw.dat";
    std::ofstream(fw, std::ios::binary) << "Orva" << std::string(3000, '\x21');
    const int nobody = remotetest::freePort();
    // A peer that takes the connection and never says a word (no Telnet, no COM port option).
    const int mute = remotetest::freePort();
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = htons(static_cast<std::uint16_t>(mute));
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ::listen(listener, 4);
    const struct {
        std::vector<std::string> args;
        int exit;
        const char* said;
    } cases[] = {
        {{"flash", "--port", url(nobody, "socket"), fw.string()}, 3, "socket:// gateway's line speed is fixed"},
        {{"probe", "--port", url(nobody)}, 3, "did not accept the connection"},
        {{"probe", "--port", "rfc2217://127.0.0.1"}, 3, "no such port"},
        {{"probe", "--port", url(mute)}, 4, "did not confirm the line settings"},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.exit, c.exit) << c.args[0] << " " << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_LT(r.seconds, 7.0) << "the connect time-out is 5 s";
    }
    ::close(listener);
}

// The firmware job over the gateway: the bootloader's speed is set at
// ser2net, confirmed, and the flash equals the file.
TEST_F(Remote, FlashOverTheGatewayEqualsTheFile) {
    const fs::path link = dir / "orva", flash = dir / "flash.bin", fw = dir / "fw.dat";
    std::string body(3000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + 1);
    std::ofstream(fw, std::ios::binary) << "Orva" << body;
    ptytest::Child boot(
        {ORVA_BOOTLOADER_SIM, "--pty-link", link.string(), "--controller", "--boot-ms", "500", "--dump", flash.string()},
        true);
    ASSERT_TRUE(boot.waitForLine("ready", 3000));
    remotetest::Ser2net s2n(dir.string(), link.string());
    ASSERT_TRUE(s2n.ready());
    const Outcome r = run({"flash", "--port", url(s2n.port()), fw.string(), "--verify-config"});
    EXPECT_EQ(r.exit, 0) << r.out << r.err;
    const std::string flashed = slurp(flash);
    ASSERT_EQ(flashed.size(), 122880u);
    EXPECT_EQ(flashed.substr(0, body.size()), body);
    // A gateway that answers the bootloader's speed with another: the job
    // ends before a block goes out, with the reason.
    const std::string said57600("\xFF\xFA\x2C\x65\x00\x00\xE1\x00", 8), said38400("\xFF\xFA\x2C\x65\x00\x00\x96\x00", 8);
    {
        Proxy liar(s2n.port(), {0, -1, -1, said57600, said38400});
        const Outcome refused = run({"flash", "--port", url(liar.port()), fw.string(), "--no-backup"});
        EXPECT_EQ(refused.exit, 4) << refused.out << refused.err;
        EXPECT_NE(refused.err.find("did not confirm the line settings"), std::string::npos) << refused.err;
        EXPECT_EQ(slurp(flash), flashed) << "nothing flashed";
    }
}

// TLS in front of ser2net (socat) with a throw-away CA: the right CA
// connects, another one refuses before the upload sends anything.
TEST_F(Remote, TlsConnectsWithTheRightCaOnly) {
    if (!ptytest::onPath("openssl")) GTEST_SKIP() << "openssl is not installed";
    ASSERT_TRUE(remotetest::makeCa(dir.string(), "ca"));
    ASSERT_TRUE(remotetest::makeCa(dir.string(), "other"));
    startController();
    const int port = remotetest::freePort();
    ptytest::Child front({"socat",
                          "openssl-listen:" + std::to_string(port) +
                              ",bind=127.0.0.1,reuseaddr,fork,verify=0,cert=" + (dir / "ca-server.pem").string(),
                          "tcp:127.0.0.1:" + std::to_string(gateway->port())});
    ASSERT_TRUE(remotetest::listening(port));
    const std::string tls = url(port, "rfc2217+tls");
    const fs::path a = dir / "a.kvd";
    const Outcome down = run({"download", "--port", tls, "-o", a.string(), "--ca-file", (dir / "ca.pem").string()});
    EXPECT_EQ(down.exit, 0) << down.err;
    EXPECT_EQ(imageOf(a), image);

    Image every = image;
    for (auto& byte : every) byte ^= 0x5A;
    ASSERT_TRUE(kelvane::saveDataFileTo((dir / "all.kvd").string(), every, ""));
    const Outcome refused = run({"upload", "--port", tls, (dir / "all.kvd").string(), "--yes", "--full",
                                 "--other-controller", "--ca-file", (dir / "other.pem").string()});
    EXPECT_EQ(refused.exit, 3) << refused.err;
    EXPECT_NE(refused.err.find("certificate was not verified"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(dir / "dump.bin")) << "nothing reached the controller";
}

}  // namespace
