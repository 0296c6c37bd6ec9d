// The company register against what a network, a restored server and a
// colleague with write access to the server's tables can do: a cut or slow
// stream, a server gone back in time, forged and oversized rows, a future
// clock. Runs under tests/registry/with_postgres.sh.
#include "files/key_file.h"
#include "registry/building_register.h"
#include "registry/company_sync.h"
#include "image/image.h"
#include "tests/link/pty_pair.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
namespace reg = kelvane::registry;
using kelvane::Image;

struct Outcome {
    int exit = -1;
    std::string out, err;
    double seconds = 0;
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// kvtool in `home` (its own register, settings and key file), behind
// `prefix` (faketime ...) when given; SIGINT after `sigintMs` when >= 0.
Outcome kvtool(const fs::path& home, std::vector<std::string> args, std::vector<std::string> prefix = {},
               int sigintMs = -1) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int o = ::open((home / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = ::open((home / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(o, 1);
        ::dup2(e, 2);
        ::setenv("LANG", "C", 1);
        ::setenv("HOME", home.c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
        ::unsetenv("XDG_CONFIG_HOME");
        ::setenv("KELVANE_REGISTER", (home / "register.sqlite").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        args.insert(args.begin(), KVTOOL_PATH);
        args.insert(args.begin(), prefix.begin(), prefix.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    if (sigintMs >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(sigintMs));
        ::kill(pid, SIGINT);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    Outcome r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = slurp(home / "stdout");
    r.err = slurp(home / "stderr");
    return r;
}

// A loopback proxy to the cluster: "cut N" closes both sides once N bytes
// came from the server, "stall N" stops forwarding there, "rate B" carries
// B bytes a second from the server.
const char kProxy[] = R"(import socket, sys, threading, time
mode, n, up, port = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
srv = socket.socket(); srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1); srv.bind(("127.0.0.1", port))
srv.listen(); print("ready", flush=True)
def pipe(a, b, down):
    sent = 0
    try:
        while True:
            d = a.recv(16384 if mode == "rate" else 65536)
            if not d: break
            if down and mode == "rate": time.sleep(len(d) / n)
            sent += len(d)
            if down and mode != "rate" and sent > n:
                if mode == "stall": time.sleep(3600)
                break
            b.sendall(d)
    except OSError: pass
    for s in (a, b):
        try: s.shutdown(socket.SHUT_RDWR)
        except OSError: pass
while True:
    c, _ = srv.accept(); s = socket.create_connection(("127.0.0.1", up))
    threading.Thread(target=pipe, args=(c, s, False), daemon=True).start()
    threading.Thread(target=pipe, args=(s, c, True), daemon=True).start()
)";

// A loopback port nothing listens on now.
int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

class CompanyTrust : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("KELVANE_PG_URL")) GTEST_SKIP() << "runs under tests/registry/with_postgres.sh";
        dir = fs::temp_directory_path() / ("company_trust_" + std::to_string(::getpid()));
        fs::create_directories(dir / "one");
        fs::create_directories(dir / "two");
        url = std::getenv("KELVANE_PG_URL");
        std::uint8_t bytes[kelvane::DataKey::kBytes];
        for (std::size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
        key = kelvane::DataKey::fromBytes(bytes, sizeof bytes);
        ASSERT_TRUE(kelvane::writeKeyFile(dir / "data.key", *key));
        ::setenv("KELVANE_KEY_FILE", (dir / "data.key").c_str(), 1);
        server = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("trust"));
        server.setHostName(QString::fromLocal8Bit(std::getenv("KELVANE_PG_DIR")));
        server.setPort(std::atoi(std::getenv("KELVANE_PG_PORT")));
        server.setUserName(QStringLiteral("kelvane"));
        server.setDatabaseName(QStringLiteral("company"));
        ASSERT_EQ(kvtool(dir, {"register", "server-setup", url}).exit, 0);
        ASSERT_TRUE(server.open());
    }
    void TearDown() override {
        if (server.isValid()) {
            if (!server.isOpen()) server.open();
            QSqlQuery(server).exec(
                QStringLiteral("SET client_min_messages = warning; DROP SCHEMA public CASCADE; CREATE SCHEMA public"));
            server.close();
        }
        server = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("trust"));
        ::unsetenv("KELVANE_KEY_FILE");
        if (!dir.empty()) fs::remove_all(dir);
    }
    // A laptop's register, open with the company's key.
    std::unique_ptr<reg::Register> laptop(const char* name) {
        auto r = std::make_unique<reg::Register>();
        r->setDataKey(key);
        EXPECT_TRUE(r->open((dir / name / "register.sqlite").string())) << r->error();
        return r;
    }
    reg::ServerAddress address(int port = 0) {
        return *reg::parseServerUrl(port ? "postgresql://kelvane@127.0.0.1:" + std::to_string(port) + "/company" : url);
    }
    reg::SyncResult sync(const char* name, int port = 0, reg::SyncLimits limits = {}) {
        auto r = laptop(name);
        return reg::syncNow(*r, address(port), limits);
    }
    std::unique_ptr<ptytest::Child> proxy(const char* mode, long long n, int port) {
        std::ofstream(dir / "proxy.py") << kProxy;
        auto p = std::make_unique<ptytest::Child>(
            std::vector<std::string>{"/usr/bin/python3", (dir / "proxy.py").string(), mode, std::to_string(n),
                                     std::getenv("KELVANE_PG_PORT"), std::to_string(port)},
            true);
        EXPECT_TRUE(p->waitForLine("ready", 3000));
        return p;
    }
    bool pg(const QString& sql) {
        QSqlQuery q(server);
        const bool ok = q.exec(sql);
        EXPECT_TRUE(ok) << sql.toStdString();
        return ok;
    }
    long long serverCount(const char* table) {
        QSqlQuery q(server);
        return q.exec(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table))) && q.next()
                   ? q.value(0).toLongLong()
                   : -1;
    }
    long long localCount(const char* name, const QString& sql) {
        long long n = -1;
        {
            auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("local"));
            db.setDatabaseName(QString::fromStdString((dir / name / "register.sqlite").string()));
            QSqlQuery q(db);
            if (db.open() && q.exec(sql) && q.next()) n = q.value(0).toLongLong();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("local"));
        return n;
    }
    long long localRows(const char* name, const char* table) {
        return localCount(name, QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table)));
    }
    // `n` visits of controller 1/SERIAL, every tenth with an image of its own.
    void record(const char* name, int n, int serial = 4660) {
        auto r = laptop(name);
        Image img = kelvane::initialImage();
        for (int i = 0; i < n; ++i) {
            reg::NewVisit v;
            v.key = {1, serial};
            img[kelvane::mem::kParams + 22] = static_cast<std::uint8_t>(i);
            img[kelvane::mem::kParams + 23] = static_cast<std::uint8_t>(i >> 8);
            if (i % 10 == 0) v.image = img;
            v.port = "test";
            ASSERT_TRUE(r->recordVisit(v)) << r->error();
        }
    }
    fs::path dir;
    std::string url;
    std::optional<kelvane::DataKey> key;
    QSqlDatabase server;
};

// Every query's and commit's error ends the sync as failed, and the marks
// advance only to the last row stored: the next sync pulls exactly the rest.
TEST_F(CompanyTrust, AStreamCutMidPullFailsAndTheNextSyncPullsTheRest) {
    {
        auto one = laptop("one");
        ASSERT_TRUE(one->describe({1, 4660}, "Lipowa 5", "", std::string(1000, 'x')));
        for (int i = 0; i < 2000; ++i)
            ASSERT_TRUE(one->describe({1, 4660}, "Lipowa 5", "", std::to_string(i) + std::string(1000, 'n')));
    }
    ASSERT_TRUE(sync("one").ok);
    ASSERT_EQ(serverCount("field_history"), 2000);
    const int port = freePort();
    const auto cut = proxy("cut", 1'000'000, port);
    const reg::SyncResult broken = sync("two", port);
    EXPECT_FALSE(broken.ok);
    const long long had = localRows("two", "field_history");
    EXPECT_LT(had, 2000);
    const reg::SyncResult rest = sync("two");
    ASSERT_TRUE(rest.ok) << rest.error;
    EXPECT_EQ(localRows("two", "field_history"), 2000);
    EXPECT_EQ(rest.pulled.fieldEdits, 2000 - had);
}

// Silence is bounded, not work: a slow link finishes a pull that outlasts
// the bound many times over. A laptop never pulls back what it pushed, and
// the JSON says rows and bytes each way. Ctrl-C in a stall ends at once.
TEST_F(CompanyTrust, ASlowLinkFinishesNothingComesBackAndCtrlCEndsAStall) {
    {
        auto one = laptop("one");
        for (int i = 0; i < 600; ++i)
            ASSERT_TRUE(one->describe({1, 4660}, "Lipowa 5", "", std::to_string(i) + std::string(3000, 'n')));
    }
    record("one", 200);
    const Outcome first = kvtool(dir / "one", {"register", "sync", "--server", url, "--json"});
    ASSERT_EQ(first.exit, 0) << first.err;
    const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(first.out)).object();
    const QJsonObject up = json["pushed"].toObject(), down = json["pulled"].toObject();
    EXPECT_GT(up["bytes"].toDouble(), 1'000'000) << first.out;
    EXPECT_GT(up["rows"].toInt(), 800) << first.out;
    EXPECT_EQ(down["visits"].toInt(), 0) << first.out;
    EXPECT_LT(down["bytes"].toDouble(), up["bytes"].toDouble() / 20) << first.out;
    const int port = freePort();
    {
        const auto slow = proxy("rate", 400'000, port);
        reg::SyncLimits limits;
        limits.statementTimeout = std::chrono::seconds(1);
        limits.networkTimeout = std::chrono::seconds(1);
        const auto start = std::chrono::steady_clock::now();
        const reg::SyncResult r = sync("two", port, limits);
        EXPECT_TRUE(r.ok) << r.error;
        EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_EQ(localRows("two", "field_history"), serverCount("field_history"));
    }
    const int stallPort = freePort();
    const auto stall = proxy("stall", 20'000, stallPort);
    {
        auto one = laptop("one");
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(one->describe({1, 4660}, "Lipowa 5", "", std::to_string(i) + std::string(3000, 's')));
    }
    ASSERT_TRUE(sync("one").ok);
    const Outcome stopped = kvtool(
        dir / "two",
        {"register", "sync", "--server", "postgresql://kelvane@127.0.0.1:" + std::to_string(stallPort) + "/company"},
        {}, 3000);
    EXPECT_EQ(stopped.exit, 130) << stopped.err;
    EXPECT_LT(stopped.seconds, 6.0);
}

// A server that went back in time (a restored dump; a row's change number
// set absurdly high) is found out, and everything goes again.
TEST_F(CompanyTrust, AServerBackInTimeGetsEverythingAgain) {
    const std::string bin = fs::path(std::getenv("KELVANE_PG_CTL")).parent_path().string();
    const std::string sock = std::getenv("KELVANE_PG_DIR"), port = std::getenv("KELVANE_PG_PORT");
    const std::string conn = " -h " + sock + " -p " + port + " -U kelvane ";
    record("one", 1, 4660);
    ASSERT_TRUE(sync("one").ok);
    ASSERT_TRUE(sync("two").ok);
    // The dump of that moment; then more visits reach the server.
    ASSERT_EQ(std::system(("pg_dump" + conn + "company >" + (dir / "dump.sql").string()).c_str()), 0);
    record("one", 1, 4661);
    ASSERT_TRUE(sync("one").ok);
    ASSERT_TRUE(sync("two").ok);
    ASSERT_EQ(serverCount("visits"), 2);
    server.close();
    ASSERT_EQ(std::system(("psql -q" + conn +
                           "postgres -c 'DROP DATABASE company' -c 'CREATE DATABASE company'"
                           " >/dev/null && psql -q" +
                           conn + "company -f " + (dir / "dump.sql").string() + " >/dev/null")
                              .c_str()),
              0);
    ASSERT_TRUE(server.open());
    ASSERT_EQ(serverCount("visits"), 1);
    const reg::SyncResult again = sync("one");
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(serverCount("visits"), 2);
    // A register put back from a copy gets what it lacks of its own rows.
    fs::copy_file(dir / "one" / "register.sqlite", dir / "copy.sqlite");
    record("one", 1, 4663);
    ASSERT_TRUE(sync("one").ok);
    fs::copy_file(dir / "copy.sqlite", dir / "one" / "register.sqlite", fs::copy_options::overwrite_existing);
    for (const char* companion : {"-wal", "-shm"})
        fs::remove(dir / "one" / (std::string("register.sqlite") + companion));
    ASSERT_TRUE(sync("one").ok);
    EXPECT_EQ(localRows("one", "visits"), serverCount("visits"));
    // An absurd change number: later rows still reach the other laptop.
    ASSERT_TRUE(sync("two").ok);
    pg(QStringLiteral("UPDATE visits SET seq = 9223372036854775807 WHERE serial = 4661"));
    ASSERT_TRUE(sync("two").ok);
    record("one", 1, 4662);
    ASSERT_TRUE(sync("one").ok);
    const reg::SyncResult later = sync("two");
    ASSERT_TRUE(later.ok) << later.error;
    EXPECT_EQ(localRows("two", "visits"), 4);
}

// What a colleague with write access, or a laptop whose clock runs years
// ahead, writes never wins: the server's order decides the name, a future
// visit is clamped, a withdrawn one is honoured, and pulled rows do not
// decide the guard or the merge base against what this laptop saw.
TEST_F(CompanyTrust, ForgedRowsAndFutureClocksNeverWin) {
    ASSERT_TRUE(ptytest::onPath("faketime")) << "faketime is missing (bash scripts/deps.sh installs it)";
    const std::vector<std::string> future = {"faketime", "-f", "+3650d"};
    for (const char* name : {"one", "two"}) ASSERT_TRUE(laptop(name)->describe({1, 4660}, "", ""));
    // An address given before edits were timed is no edit, and still reaches everyone.
    localCount("one", QStringLiteral("UPDATE controllers SET address = 'Lipowa 5', changed = 1"));
    ASSERT_EQ(kvtool(dir / "two", {"register", "name", "1/4660", "Future"}, future).exit, 0);
    ASSERT_EQ(kvtool(dir / "two", {"register", "sync", "--server", url}, future).exit, 0);
    ASSERT_EQ(kvtool(dir / "one", {"register", "name", "1/4660", "Now"}).exit, 0);
    ASSERT_EQ(kvtool(dir / "one", {"register", "sync", "--server", url}).exit, 0);
    ASSERT_EQ(kvtool(dir / "two", {"register", "sync"}, future).exit, 0);
    for (const char* name : {"one", "two"}) {
        SCOPED_TRACE(name);
        const std::string shown = kvtool(dir / name, {"register", "show", "1/4660"}).out;
        EXPECT_NE(shown.find("Now"), std::string::npos) << shown;
        EXPECT_NE(shown.find("Lipowa 5"), std::string::npos) << shown;
    }
    // This laptop's own reading and edited file; then forged rows.
    Image read = kelvane::initialImage(), edited = read;
    edited[kelvane::mem::kParams + 30] ^= 0x5A;
    {
        auto one = laptop("one");
        reg::NewVisit v;
        v.key = {1, 4660};
        v.image = read;
        ASSERT_TRUE(one->recordVisit(v));
        ASSERT_TRUE(one->recordSavedFile((dir / "edited.kvd").string(), edited, reg::ControllerKey{1, 4660}, read));
    }
    ASSERT_TRUE(sync("one").ok);
    const QString forged = QUuid::createUuid().toString(QUuid::WithoutBraces);
    pg(
        QStringLiteral("INSERT INTO saved_files(uuid, path, time, image, device_id, serial, base)"
                       " SELECT gen_random_uuid(), '/x.kvd', '2099-06-01T10:00:00+00:00', image, 1, 9999, image"
                       " FROM saved_files"));
    pg(QStringLiteral("INSERT INTO visits(uuid, device_id, serial, time, technician, port, kind, outcome, image, source)"
                      " SELECT '%1', 1, 4660, '2099-06-01T10:00:00+00:00', 'forger', 'x', 'download', 'completed',"
                      " image, '' FROM saved_files LIMIT 1")
           .arg(forged));
    ASSERT_TRUE(sync("one").ok);
    ASSERT_TRUE(sync("two").ok);
    EXPECT_EQ(kvtool(dir / "two", {"register", "show", "1/4660"}).out.find("2099"), std::string::npos);
    {
        auto one = laptop("one");
        const auto due = one->wrongBuilding(edited, std::nullopt, {1, 9999});
        ASSERT_TRUE(due.has_value());
        EXPECT_EQ(due->key, (reg::ControllerKey{1, 4660}));
        EXPECT_EQ(one->baseImageFor(edited), read);
    }
    // The company withdraws the forged visit: every laptop drops it.
    pg(QStringLiteral("INSERT INTO withdrawn(uuid, reason) VALUES('%1', 'forged')").arg(forged));
    for (const char* name : {"one", "two"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(sync(name).ok);
        const std::string json = kvtool(dir / name, {"register", "show", "1/4660", "--json"}).out;
        EXPECT_EQ(json.find("forger"), std::string::npos) << json;
        const QJsonObject shown = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
        EXPECT_EQ(shown["visits"].toInt(), static_cast<int>(shown["visitList"].toArray().size())) << json;
    }
}

// Pulled fields meet the limits of local input: an oversized image or note
// is skipped and reported, and the rest still arrives.
TEST_F(CompanyTrust, OversizedPulledRowsAreSkippedAndTheRestArrives) {
    record("one", 11);
    ASSERT_TRUE(sync("one").ok);
    pg(QStringLiteral("INSERT INTO images(hash, data) VALUES('\\x01', decode(repeat('ab', 1000000), 'hex'))"));
    pg(QStringLiteral(
        "INSERT INTO visits(uuid, device_id, serial, time, technician, port, kind, outcome, image, source)"
        " VALUES(gen_random_uuid(), 1, 4661, '2026-01-01T10:00:00+00:00', 'x', 'x', 'download',"
        " 'completed', '\\x01', '')"));
    pg(
        QStringLiteral("INSERT INTO controllers(device_id, serial, first_seen, last_seen, notes)"
                       " VALUES(1, 4662, '2026-01-01T10:00:00+00:00', '2026-01-01T10:00:00+00:00', repeat('n', 5000))"));
    const reg::SyncResult r = sync("two");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_GE(r.skipped.size(), 3u);
    EXPECT_EQ(localRows("two", "visits"), 11);
    EXPECT_EQ(localCount("two", QStringLiteral("SELECT max(length(data)) FROM images")) < 20000, true);
    EXPECT_EQ(localCount("two", QStringLiteral("SELECT max(length(notes)) FROM controllers")) <= 4000, true);
}

// A table dropped on the server is named, and server-setup makes it again;
// building details name the technician given.
TEST_F(CompanyTrust, ADroppedTableIsNamedAndServerSetupMakesItAgain) {
    ASSERT_TRUE(laptop("one")->describe({1, 4660}, "", ""));
    ASSERT_EQ(kvtool(dir / "one", {"register", "name", "1/4660", "A", "--technician", "Jan K."}).exit, 0);
    ASSERT_EQ(kvtool(dir / "one", {"register", "name", "1/4660", "B", "--technician", "Jan K."}).exit, 0);
    EXPECT_NE(kvtool(dir / "one", {"register", "history", "1/4660"}).out.find("Jan K."), std::string::npos);
    ASSERT_EQ(kvtool(dir / "one", {"register", "sync", "--server", url}).exit, 0);
    pg(QStringLiteral("DROP TABLE field_history"));
    ASSERT_EQ(kvtool(dir / "one", {"register", "name", "1/4660", "C"}).exit, 0);
    const Outcome broken = kvtool(dir / "one", {"register", "sync"});
    EXPECT_EQ(broken.exit, 4);
    EXPECT_EQ(broken.err.find("syntax error"), std::string::npos) << broken.err;
    EXPECT_NE(broken.err.find("field_history"), std::string::npos) << broken.err;
    const Outcome setup = kvtool(dir / "one", {"register", "server-setup", url});
    EXPECT_EQ(setup.exit, 0) << setup.err;
    EXPECT_EQ(setup.out.find("nothing to do"), std::string::npos) << setup.out;
    ASSERT_EQ(kvtool(dir / "one", {"register", "sync"}).exit, 0);
    EXPECT_EQ(serverCount("field_history"), 2);
}

}  // namespace
