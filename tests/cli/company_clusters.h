#pragma once
// Throw-away PostgreSQL clusters for the company register's connection tests
// (initdb in a temporary folder, as `nobody` when run as root), and kvtool
// run as a technician's laptop against them.
#include "registry/building_register.h"
#include "registry/key_store.h"
#include "image/image.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace company_test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string sh(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen((command + " 2>&1").c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}
inline bool ok(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

inline int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(s);
    return ntohs(a.sin_port);
}

inline std::string serverBin() {
    std::string best;
    std::error_code e;
    for (const auto& d : fs::directory_iterator("/usr/lib/postgresql", e))
        if (fs::exists(d.path() / "bin" / "initdb") && d.path().string() > best) best = d.path().string();
    return best.empty() ? "" : best + "/bin";
}

// A throw-away cluster: data in dir/data, its socket in dir, 127.0.0.1 at port.
struct Cluster {
    fs::path dir;
    int port = 0;
    std::string bin, as;
    std::string pgCtl(const std::string& args) const {
        return as + bin + "/pg_ctl -D " + (dir / "data").string() + " -l " + (dir / "server.log").string() +
               " -w -t 60 -o \"-k " + dir.string() + " -p " + std::to_string(port) +
               " -c listen_addresses=127.0.0.1 -c fsync=off\" " + args;
    }
    void own() const {
        if (!as.empty()) ok("chown -R nobody " + dir.string());
    }
    bool start() const { return ok(pgCtl("start")); }
    bool stop(const char* mode = "fast") const { return ok(pgCtl(std::string("stop -m ") + mode)); }
    std::string psql(const std::string& sql, const std::string& db = "company") const {
        std::string out = sh(bin + "/psql -X -h " + dir.string() + " -p " + std::to_string(port) +
                             " -U kelvane -Atc \"" + sql + "\" " + db);
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }
    std::string log() const { return slurp(dir / "server.log"); }
    ~Cluster() {
        if (!dir.empty()) {
            stop("immediate");
            fs::remove_all(dir);
        }
    }
};

inline std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct Outcome {
    int exit = -1;
    std::string out, err;
};

class CompanyConnection : public ::testing::Test {
protected:
    void SetUp() override {
        bin = serverBin();
        if (bin.empty()) GTEST_SKIP() << "the PostgreSQL server's programs are missing (scripts/deps.sh installs them)";
        root = fs::temp_directory_path() / ("company_connection_" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root);
        if (::getuid() == 0) {
            as = "runuser -u nobody -- ";
            fs::permissions(root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        }
        fs::create_directories(root / "key");
        fs::permissions(root / "key", fs::perms::owner_all);
        laptop = root / "laptop";
        laptop2 = root / "laptop2";
        fs::create_directories(laptop);
        fs::create_directories(laptop2);
    }
    void TearDown() override {
        clusters.clear();
        if (!root.empty()) fs::remove_all(root);
    }
    // initdb, the lines added to postgresql.conf and put first in pg_hba.conf, started, a database "company".
    Cluster& cluster(const std::string& name, const std::string& conf = "", const std::string& hba = "") {
        auto c = std::make_unique<Cluster>();
        c->dir = root / name;
        c->port = freePort();
        c->bin = bin;
        c->as = as;
        fs::create_directories(c->dir);
        c->own();
        EXPECT_TRUE(
            ok(as + bin + "/initdb -D " + (c->dir / "data").string() + " -U kelvane --auth=trust -E UTF8 --no-sync"));
        for (const char* f : {"server.crt", "server.key", "ca.crt"})
            if (fs::exists(root / "tls" / f)) fs::copy_file(root / "tls" / f, c->dir / "data" / f);
        std::ofstream(c->dir / "data" / "postgresql.conf", std::ios::app) << conf;
        const std::string rules = hba + slurp(c->dir / "data" / "pg_hba.conf");
        std::ofstream(c->dir / "data" / "pg_hba.conf", std::ios::trunc) << rules;
        if (fs::exists(c->dir / "data" / "server.key"))
            fs::permissions(c->dir / "data" / "server.key", fs::perms::owner_read | fs::perms::owner_write);
        c->own();
        EXPECT_TRUE(c->start()) << c->log();
        EXPECT_TRUE(ok(bin + "/createdb -h " + c->dir.string() + " -p " + std::to_string(c->port) + " -U kelvane company"));
        clusters.push_back(std::move(c));
        return *clusters.back();
    }
    // kvtool as a technician runs it, from `home`.
    Outcome kvtool(const fs::path& home, const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env = {}) {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("HOME", QString::fromStdString(home.string()));
        e.insert("LANG", "C");
        e.insert("QT_QPA_PLATFORM", "offscreen");
        e.insert("KELVANE_REGISTER", QString::fromStdString((home / "register.sqlite").string()));
        e.insert("KELVANE_KEY_FILE", QString::fromStdString(key().string()));  // one company key
        for (const char* v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "PGSERVICEFILE", "PGSSLROOTCERT", "PGHOST", "PGPASSWORD"})
            e.remove(v);
        for (const auto& [k, v] : env) e.insert(QString::fromStdString(k), QString::fromStdString(v));
        p.setProcessEnvironment(e);
        p.setWorkingDirectory(QString::fromStdString(home.string()));
        QStringList list;
        for (const auto& a : args) list << QString::fromStdString(a);
        p.start(KVTOOL_PATH, list);
        p.closeWriteChannel();
        Outcome r;
        if (!p.waitForFinished(120000)) p.kill();
        p.waitForFinished(5000);
        r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput().toStdString();
        r.err = p.readAllStandardError().toStdString();
        return r;
    }
    Outcome sync(const fs::path& home, const std::string& server, const std::map<std::string, std::string>& env = {}) {
        return kvtool(home, {"register", "sync", "--server", server, "--json"}, env);
    }
    static QJsonObject json(const Outcome& o) {
        return QJsonDocument::fromJson(QByteArray::fromStdString(o.out)).object();
    }
    // A download from the simulator, then `n` visits of 300 controllers
    // recorded on `home`'s register, one in ten with an image.
    void recordVisits(const fs::path& home, int n) {
        ASSERT_EQ(kvtool(home, {"download", "--port", "sim", "-o", (home / "a.kvd").string()}).exit, 0);  // and the key
        kelvane::registry::setKeyFile(key().string());
        kelvane::registry::reloadDataKey();
        kelvane::registry::Register reg;
        ASSERT_TRUE(reg.open((home / "register.sqlite").string())) << reg.error();
        kelvane::Image img = kelvane::initialImage();
        for (int i = 0; i < n; ++i) {
            kelvane::registry::NewVisit v;
            v.key = {1, 100 + i % 300};
            img[kelvane::mem::kParams + 22] = static_cast<std::uint8_t>(i);
            img[kelvane::mem::kParams + 23] = static_cast<std::uint8_t>(i >> 8);
            if (i % 10 == 0) v.image = img;
            v.port = "test";
            ASSERT_TRUE(reg.recordVisit(v)) << reg.error();
        }
    }
    static long long localCount(const fs::path& home, const char* table) {
        long long n = -1;
        {
            auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("count"));
            db.setDatabaseName(QString::fromStdString((home / "register.sqlite").string()));
            QSqlQuery q(db);
            if (db.open() && q.exec(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table))) && q.next())
                n = q.value(0).toLongLong();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("count"));
        return n;
    }
    void expectEqualEverywhere(const Cluster& server, const fs::path& home) {
        for (const char* table : {"visits", "images", "saved_files", "field_history", "controllers"})
            EXPECT_EQ(std::to_string(localCount(home, table)), server.psql(std::string("SELECT count(*) FROM ") + table))
                << table << " of " << home;
    }
    // A throw-away CA of the company, another CA, a server certificate for
    // company-db.test and a technician's client certificate, in root/tls.
    void makeCertificates() {
        const fs::path t = root / "tls";
        fs::create_directories(t);
        const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
        const auto in = [&](const std::string& c) { return "cd " + t.string() + " && openssl " + c; };
        std::ofstream(t / "server.ext") << "subjectAltName=DNS:company-db.test\n";
        for (const char* ca : {"ca", "other-ca"})
            ASSERT_TRUE(
                ok(in("req -x509 " + key + "-days 2 -subj /CN=" + ca + " -keyout " + ca + ".key -out " + ca + ".crt")));
        for (const char* who : {"server", "client"}) {
            const std::string cn = std::string(who) == "server" ? "company-db.test" : "techcert";
            ASSERT_TRUE(ok(in("req " + key + "-subj /CN=" + cn + " -keyout " + who + ".key -out " + who + ".csr")));
            ASSERT_TRUE(ok(in(std::string("x509 -req -in ") + who +
                              ".csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -out " + who + ".crt" +
                              (std::string(who) == "server" ? " -extfile server.ext" : ""))));
        }
        fs::permissions(t / "client.key", fs::perms::owner_read | fs::perms::owner_write);
    }

    fs::path key() const { return root / "key" / "data.key"; }

    std::string bin, as;
    fs::path root, laptop, laptop2;
    std::vector<std::unique_ptr<Cluster>> clusters;
};

}  // namespace company_test
