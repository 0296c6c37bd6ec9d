// kvtool as a user runs it: the real program, its exit codes and its files,
// against the built-in simulator and the pty simulators.
#include "files/data_file.h"
#include "files/key_file.h"
#include "files/sealed_files.h"
#include "registry/building_register.h"
#include "registry/company_sync.h"
#include "registry/key_store.h"
#include "image/codecs.h"
#include "image/flat_actions.h"
#include "image/parameters.h"
#include "image/secret_mask.h"
#include "sim/sample_building.h"
#include "texts/job_text.h"
#include "texts/language_table.h"
#include "texts/report_text.h"
#include "tests/clean_environment.h"
#include "tests/jobs/upload_scenarios.h"
#include "tests/link/pty_pair.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using kelvane::Image;
using kelvane::texts::ToolText;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string english(ToolText t, int n) {
    char buf[256];
    std::snprintf(buf, sizeof buf, kelvane::texts::toolText(t, kelvane::texts::kEnglish), n, 0);
    return buf;
}

struct Outcome {
    int exit = -1;
    std::string out, err;
    double seconds = 0;
    double secondsAfterSignal = 0;  // from the signal to the end
};

// Runs kvtool in `dir` with stdin from /dev/null (no terminal). With sigintAfterMs >= 0
// it gets SIGINT (or `signalNumber`) that long after the start, or once `before`
// returns when given (a wait for a moment of the transfer, which a loaded
// machine reaches late).
Outcome kvtool(const fs::path& dir, std::vector<std::string> args, int sigintAfterMs = -1, int signalNumber = SIGINT,
               const std::function<void()>& before = {}, int times = 1) {
    const fs::path out = dir / "stdout", err = dir / "stderr";
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(o, 1);
        ::dup2(e, 2);
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        ::setenv("LANG", "C", 1);
        // Traces, logs and settings go to the test's own folder.
        ::setenv("HOME", dir.c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
        ::unsetenv("XDG_CONFIG_HOME");
        // Each test its own building register, never the user's.
        ::setenv("KELVANE_REGISTER", (dir / "register.sqlite").c_str(), 1);
        // And its own data key, never the user's keychain (unless a case names
        // one: the environment the user's shell gave is cleared at the start).
        ::setenv("KELVANE_KEY_FILE", (dir / "data.key").c_str(), 0);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);  // no display here: only the offscreen platform works
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        args.insert(args.begin(), KVTOOL_PATH);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(KVTOOL_PATH, argv.data());
        ::_exit(127);
    }
    auto signalled = start;
    if (sigintAfterMs >= 0) {
        if (before)
            before();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(sigintAfterMs));
        signalled = std::chrono::steady_clock::now();
        for (int i = 0; i < times; ++i) {
            if (i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ::kill(pid, signalNumber);
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    Outcome r;
    const auto end = std::chrono::steady_clock::now();
    r.seconds = std::chrono::duration<double>(end - start).count();
    r.secondsAfterSignal = std::chrono::duration<double>(end - signalled).count();
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

Image imageOf(const fs::path& kvd) {
    auto f = kelvane::loadDataFileFrom(kvd.string());
    return f ? f->image : Image{};
}

void save(const fs::path& kvd, const Image& img, const std::string& description = "") {
    ASSERT_TRUE(kelvane::saveDataFileTo(kvd.string(), img, description));
}

class Kvtool : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("kvtool_test_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        // The sealed backups kvtool writes open here with its key file.
        kelvane::setSealedFileKeyProvider([key = dir / "data.key"] {
            return kelvane::SealedFileKeys{kelvane::readKeyFile(key, false).key, {}};
        });
    }
    void TearDown() override { fs::remove_all(dir); }
    Outcome run(std::vector<std::string> args, int sigintAfterMs = -1, const std::function<void()>& before = {}) {
        return kvtool(dir, std::move(args), sigintAfterMs, SIGINT, before);
    }
    fs::path dir;
};

TEST_F(Kvtool, UsageErrorsExitOneAndSayWhy) {
    save(dir / "a.kvd", kelvane::initialImage());
    const std::string a = (dir / "a.kvd").string();
    struct Case {
        std::vector<std::string> args;
        int exit;
        std::string inErr;  // a piece of stderr that shows the reason
    };
    const Case cases[] = {
        {{}, 1, "no command"},
        {{"frobnicate"}, 1, "frobnicate"},
        {{"show", a, "--colour"}, 1, "--colour"},
        {{"show"}, 1, "FILE.kvd"},
        {{"show", a, a}, 1, a},
        {{"download", "--port", "sim"}, 1, "--output"},
        {{"probe", "--port"}, 1, "--port"},
        {{"probe"}, 1, "sim"},  // a missing --port lists the ports found, the simulator among them
        {{"upload", "--port", "sim", a, "--base", a, "--full"}, 1, "--full"},
        {{"show", a, "--lang", "de"}, 1, "--lang"},
        {{"show", a, "--json=yes"}, 1, "--json"},
        {{"show", "--lang", "en", "--lang", "pl", a}, 1, "twice"},
        {{"--version", "show"}, 1, "show"},
        // The comparison asked for has no backup to compare with.
        {{"flash", "--port", "sim", "--no-backup", "--verify-config"}, 1, "--verify-config"},
        {{"flash", "--port", "sim", "--restore-config", "--no-backup"}, 1, "--restore-config"},
        {{"flat", "moved-out", a, "1.0", "-o", a}, 1, "1.0"},
        {{"flat", "leave", a, "1.5", "-o", a}, 1, "leave"},
        {{"flat", "lost-key", a, "01 02", "-o", a}, 1, "hexadecimal"},
        {{"flat", "new-resident", a, "1.5", "--code", "12a", "-o", a}, 1, "1 to 9999"},
        {{"cards", a, "-o", a, "--flat", "3.1"}, 1, "3.1"},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.args);
        std::string joined;
        for (const auto& s : c.args) joined += s + " ";
        EXPECT_EQ(r.exit, c.exit) << joined << r.err;
        EXPECT_NE(r.err.find(c.inErr), std::string::npos) << joined << r.err;
        EXPECT_TRUE(r.out.empty()) << joined;
    }
    // Help and version go to stdout; every command has its own help.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"--version"}, {"upload", "--help"}, {"flash", "-h"}}) {
        const Outcome r = run(args);
        EXPECT_EQ(r.exit, 0) << args[0];
        EXPECT_FALSE(r.out.empty()) << args[0];
    }
    const std::string help = run({"--help"}).out;
    EXPECT_NE(help.find("130"), std::string::npos) << "the exit codes are listed";
    EXPECT_NE(help.find("75 s"), std::string::npos) << "the time limits are listed";
    EXPECT_EQ(run({"upload", "--help"}).out.find("130"), std::string::npos) << "listed once, in the main help";
    EXPECT_NE(run({"upload", "--help"}).out.find("--base"), std::string::npos);
}

TEST_F(Kvtool, FilesMissingOrRefusedExitTwoAndPortsThatDoNotOpenExitThree) {
    std::ofstream(dir / "short.kvd") << "too short";
    std::ofstream(dir / "fw.dat") << "Orva" << std::string(64, '\x5A');
    std::ofstream(dir / "notfw.dat") << "MZ" << std::string(64, '\x5A');
    save(dir / "a.kvd", kelvane::initialImage());
    save(dir / "ro.kvd", kelvane::initialImage());
    fs::permissions(dir / "ro.kvd", fs::perms::owner_read, fs::perm_options::replace);
    ASSERT_EQ(::mkfifo((dir / "fifo.kvd").c_str(), 0600), 0);
    fs::create_symlink("nothing.kvd", dir / "dangling.kvd");
    const std::string fw = (dir / "fw.dat").string(), noPort = (dir / "no-such-port").string();
    const std::string missing =
        kelvane::texts::messageText(kelvane::texts::Message::PortMissing, kelvane::texts::kEnglish);
    const std::string notRegular =
        kelvane::texts::messageText(kelvane::texts::Message::FileNotRegular, kelvane::texts::kEnglish);
    const struct {
        std::vector<std::string> args;
        int exit;
        std::string inErr;  // the cause, where the system tells it
    } cases[] = {
        {{"show", (dir / "none.kvd").string()}, 2, "File loading error! There is no such file."},
        {{"show", (dir / "short.kvd").string()}, 2, "File loading error! The file is shorter than a controller image"},
        {{"show", dir.string()}, 2, ""},
        {{"check", "--port", "sim", (dir / "none.kvd").string()}, 2, ""},
        {{"download", "--port", "sim", "-o", (dir / "no/such/dir/x.kvd").string()}, 2, ""},
        // found before the port is opened, not after a minute of reading
        {{"download", "--port", noPort, "-o", dir.string()}, 2, ""},
        {{"download", "--port", noPort, "-o", ""}, 2, ""},
        {{"download", "--port", noPort, "-o", (dir / "ro.kvd").string()}, 2, ""},
        {{"download", "--port", noPort, "-o", (dir / "fifo.kvd").string()}, 2, ""},
        {{"download", "--port", noPort, "-o", (dir / "dangling.kvd").string()}, 2, ""},
        {{"download", "--port", noPort, "-o", "/dev/null"}, 2, ""},
        {{"download", "--port", noPort, "-o", "/dev/stdout"}, 2, ""},
        {{"import-csv", (dir / "a.kvd").string(), "keys", "-o", (dir / "x.kvd").string(), "/dev/zero"}, 2, ""},
        {{"merge", (dir / "a.kvd").string(), (dir / "a.kvd").string(), (dir / "a.kvd").string(), "-o",
          (dir / "ro.kvd").string()},
         2,
         kelvane::texts::messageText(kelvane::texts::Message::FileReadOnly, kelvane::texts::kEnglish)},
        {{"flash", "--port", "sim", (dir / "none.dat").string()}, 2, ""},
        // not a firmware file: refused before the port is opened, let alone a backup read
        {{"flash", "--port", noPort, (dir / "notfw.dat").string()}, 2, ""},
        // there, but no file to read or write: said so, and nothing waits for a FIFO's other end
        {{"flash", "--port", noPort, dir.string()}, 2, notRegular},
        {{"flash", "--port", noPort, (dir / "fifo.kvd").string()}, 2, notRegular},
        {{"flash", "--port", noPort, "/dev/zero"}, 2, notRegular},
        {{"probe", "--port", noPort, "--trace", (dir / "fifo.kvd").string()}, 2, notRegular},
        {{"cards", "-o", (dir / "c.pdf").string(), (dir / "a.kvd").string()}, 2, ""},  // no resident: no cards
        {{"probe", "--port", noPort}, 3, missing},
        {{"flash", fw, "--port", noPort}, 3, missing},
        {{"flash", fw, "--port", "/dev/null"}, 3, "Port openning error!"},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.exit, c.exit) << c.args[0] << " " << c.args.back() << r.err;
        EXPECT_NE(r.err.find(c.args.back()), std::string::npos) << "the error names the file or port: " << r.err;
        EXPECT_NE(r.err.find(c.inErr), std::string::npos) << r.err;
        // Neither another file's name nor a port "in use" that is not.
        EXPECT_EQ(r.err.find("4817_05.dat"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(kelvane::texts::messageText(kelvane::texts::Message::PortHeld, kelvane::texts::kEnglish)),
                  std::string::npos)
            << r.err;
    }
    EXPECT_EQ(fs::status(dir / "fifo.kvd").type(), fs::file_type::fifo);
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.kvd"));
    EXPECT_FALSE(fs::exists(dir / "nothing.kvd"));
    EXPECT_EQ(imageOf(dir / "ro.kvd"), kelvane::initialImage());
}

TEST_F(Kvtool, OutputShowsControlCharactersAndJsonStaysUtf8) {
    // A name with an escape sequence and a byte that is not UTF-8; a description with ESC and BEL.
    const fs::path file = dir / "a\x1b[31m\xff.kvd";
    ASSERT_TRUE(kelvane::saveDataFileTo(file, kelvane::initialImage(), "opis\x1b[2J\x07"));
    const Outcome text = run({"show", file.string()});
    const Outcome json = run({"show", file.string(), "--json"});
    const Outcome missing = run({"show", (dir / "b\x1b[2J.kvd").string()});
    for (const Outcome* r : {&text, &json, &missing})
        for (const std::string* s : {&r->out, &r->err}) {
            EXPECT_EQ(s->find_first_of("\x1b\x07"), std::string::npos) << *s;
            EXPECT_EQ(QString::fromUtf8(s->data(), static_cast<int>(s->size())).toUtf8().toStdString(), *s)
                << "valid UTF-8";
        }
    EXPECT_NE(text.out.find("opis\\x1b[2J\\x07"), std::string::npos) << text.out;
    const QJsonObject shown = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
    EXPECT_EQ(shown["description"].toString(), QString::fromUtf8("opis\x1b[2J\x07"));
    EXPECT_EQ(shown["file"].toString(), QString::fromStdString((dir / "a\x1b[31m\xEF\xBF\xBD.kvd").string()));
}

// The register as kvtool leaves it: a downloaded file names the controller it
// came from, and register list keeps one controller a line whatever its name holds.
TEST_F(Kvtool, RegisterNamesADownloadedFilesOriginAndListsOneControllerALine) {
    ASSERT_EQ(run({"download", "--port", "sim", "-o", (dir / "a.kvd").string()}).exit, 0);
    {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("origin"));
        db.setDatabaseName(QString::fromStdString((dir / "register.sqlite").string()));
        ASSERT_TRUE(db.open());
        QSqlQuery origin(db);
        ASSERT_TRUE(
            origin.exec(QStringLiteral("SELECT c.serial FROM saved_files f JOIN controllers c ON c.id = f.controller")));
        ASSERT_TRUE(origin.next()) << "the saved file names its controller";
        EXPECT_EQ(origin.value(0).toInt(), 4660);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("origin"));
    ASSERT_EQ(run({"register", "name", "4660", "Lipowa 5\n\tB", "--address", "ul.\tLipowa"}).exit, 0);
    const Outcome list = run({"register", "list"});
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 1) << list.out;
    EXPECT_NE(list.out.find("\tLipowa 5\\n\\tB\tul.\\tLipowa\t"), std::string::npos) << list.out;
    const Outcome tooLong = run({"register", "name", "4660", std::string(201, 'x')});
    EXPECT_EQ(tooLong.exit, 2);
    EXPECT_NE(tooLong.err.find("longer than 200 characters"), std::string::npos) << tooLong.err;
}

// The visit report read back from its PDF: the building, the technician and
// the change list's texts are there, the codes only when asked for; the
// register notes the report beside the visit.
TEST_F(Kvtool, VisitReportSaysWhatChangedWithCodesMaskedUnlessAsked) {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) GTEST_SKIP() << "pdftotext is missing";
    kelvane::registry::setKeyFile((dir / "data.key").string());
    kelvane::registry::reloadDataKey();
    const Image before = kelvane::sampleBuildingImage();
    const auto resident = kelvane::newResident(before, {1, 5}, {false, 4071, std::nullopt});
    const auto general = kelvane::newGeneralCode(resident.image, 9753, 5820);
    ASSERT_EQ(resident.refusal, kelvane::FlatRefusal::None);
    ASSERT_EQ(general.refusal, kelvane::FlatRefusal::None);
    const Image after = general.image;
    const kelvane::registry::ControllerKey key{1, 4660};
    std::string first, second, whole;
    {
        kelvane::registry::Register reg;
        ASSERT_TRUE(reg.open((dir / "register.sqlite").string())) << reg.error();
        kelvane::registry::NewVisit v;
        v.key = key;
        v.firmware = 106;
        v.image = before;
        v.time = "2026-12-01T09:00:00+01:00";
        first = std::to_string(reg.recordVisit(v)->visitId);
        v.kind = kelvane::registry::VisitKind::Upload;
        v.technician = "Jan Kowalski";
        v.image = after;
        v.time = "2026-12-09T10:15:00+01:00";
        second = std::to_string(reg.recordVisit(v)->visitId);
        ASSERT_TRUE(reg.describe(key, "Lipowa 5", "ul. Lipowa 5, Kraków"));
        // A whole building typed in at once: more lines than a page holds.
        v.key = {2, 777};
        v.image = kelvane::initialImage();
        v.time = "2026-12-01T09:00:00+01:00";
        reg.recordVisit(v);
        v.image = before;
        v.time = "2026-12-09T10:15:00+01:00";
        whole = std::to_string(reg.recordVisit(v)->visitId);
    }
    const auto flat = [](std::string text) {  // words as one line, however the page wrapped them
        text = std::regex_replace(text, std::regex("\\s+"), " ");
        return text;
    };
    const auto pdfText = [&](const fs::path& pdf) {
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {QString::fromStdString(pdf.string()), QStringLiteral("-")});
        p.waitForFinished(20000);
        return p.readAllStandardOutput().toStdString();
    };
    std::vector<std::string> changed;
    for (const auto& g :
         kelvane::texts::describeChanges(kelvane::listChanges(before, after), kelvane::texts::kEnglish,
                                         kelvane::texts::ChangeSides::BeforeAndAfter, kelvane::texts::CodeView::Masked))
        if (g.kind != kelvane::texts::ChangeGroupKind::Upload)
            for (const auto& line : g.lines) changed.push_back(flat(g.title + ": " + line));
    ASSERT_FALSE(changed.empty());
    const fs::path pdf = dir / "report.pdf";
    const struct {
        std::vector<std::string> args;
        int exit;
        std::vector<std::string> shown, hidden;
    } cases[] = {
        {{"4660", second},
         0,
         {"Lipowa 5", "ul. Lipowa 5, Kraków", "Jan Kowalski", "ID 1, serial number 4660", "••••", "with kvtool."},
         {"4071", "5820", "9753", "KelvaneMini"}},
        {{"1/4660", second, "--show-codes"}, 0, {"4071", "5820", "9753", "Building manager"}, {"masked"}},
        {{"4660", first}, 0, {"nothing to compare with"}, {"Jan Kowalski"}},
        {{"777", whole}, 0, {" more (the full list is in the program's register)", "Building manager"}, {}},
        {{"4660", "999"}, 2, {}, {}},
        {{"4661", first}, 2, {}, {}},
        {{"4660", "1x"}, 1, {}, {}},
    };
    for (const auto& c : cases) {
        fs::remove(pdf);
        std::vector<std::string> args = {"report"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"-o", pdf.string(), "--lang", "en"});
        const Outcome r = run(args);
        SCOPED_TRACE(c.args[1] + (c.args.size() > 2 ? " " + c.args[2] : ""));
        ASSERT_EQ(r.exit, c.exit) << r.err;
        EXPECT_EQ(fs::exists(pdf), c.exit == 0);
        if (c.exit != 0) continue;
        EXPECT_EQ(fs::status(pdf).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
        const std::string raw = pdfText(pdf);
        EXPECT_EQ(std::count(raw.begin(), raw.end(), '\f'), 1) << "one page";
        const std::string text = flat(raw);
        for (const auto& w : c.shown) EXPECT_NE(text.find(w), std::string::npos) << w << " in " << text;
        for (const auto& w : c.hidden) EXPECT_EQ(text.find(w), std::string::npos) << w << " in " << text;
        if (c.args[1] == second && c.args.size() == 2) {
            for (const auto& line : changed) EXPECT_NE(text.find(line), std::string::npos) << line << " in " << text;
        }
    }
    const Outcome shown = run({"register", "show", "4660"});
    EXPECT_NE(shown.out.find("2026-12-09T10:15:00+01:00\treport\t"), std::string::npos)
        << "beside its visit: " << shown.out;
    EXPECT_NE(shown.out.find("report of visit " + second), std::string::npos) << shown.out;
    // The plain list speaks the language asked for; JSON keeps the words the register stores.
    const Outcome polish = run({"--lang", "pl", "register", "show", "4660"});
    EXPECT_NE(polish.out.find("\traport\t"), std::string::npos) << polish.out;
    EXPECT_NE(polish.out.find("raport z wizyty " + second), std::string::npos) << polish.out;
    EXPECT_NE(run({"--lang", "pl", "register", "show", "4660", "--json"}).out.find("\"kind\": \"report\""),
              std::string::npos);
}

TEST_F(Kvtool, BuiltInSimulatorProbeDownloadCheckDiffShowAndUpload) {
    const Outcome ports = run({"ports", "--json"});
    EXPECT_EQ(ports.exit, 0);
    EXPECT_TRUE(QJsonDocument::fromJson(QByteArray::fromStdString(ports.out)).isArray()) << ports.out;

    const Outcome probe = run({"probe", "--port", "sim", "--json"});
    ASSERT_EQ(probe.exit, 0) << probe.err;
    const QJsonObject id = QJsonDocument::fromJson(QByteArray::fromStdString(probe.out)).object();
    EXPECT_EQ(id["id"].toInt(), 1);
    EXPECT_EQ(id["serialNumber"].toInt(), 4660);
    EXPECT_EQ(id["firmware"].toInt(), 259);

    const std::string a = (dir / "a.kvd").string(), b = (dir / "b.kvd").string();
    const Outcome down = run({"download", "--port", "sim", "-o", a, "--description", "Klatka A", "--quiet"});
    ASSERT_EQ(down.exit, 0) << down.err;
    EXPECT_EQ(run({"download", "--port", "sim", "-o", "here.kvd", "--quiet"}).exit, 0) << "a bare file name";
    EXPECT_EQ(imageOf(dir / "here.kvd"), kelvane::sampleBuildingImage());
    EXPECT_EQ(imageOf(a), kelvane::sampleBuildingImage());
    EXPECT_EQ(kelvane::loadDataFileFrom(a)->description, "Klatka A");
    EXPECT_TRUE(down.err.empty()) << "no progress line when stderr is not a terminal: " << down.err;

    Image changed = kelvane::sampleBuildingImage();
    changed[kelvane::mem::kParams + 3] ^= 0x01;
    save(b, changed);
    EXPECT_EQ(run({"check", "--port", "sim", a}).exit, 0);
    // The differences say which side is the file and list no blocks to send.
    const Outcome check = run({"check", "--port", "sim", b, "--lang", "en"});
    EXPECT_EQ(check.exit, 6);
    EXPECT_NE(check.out.find("File " + b + " → controller:\n"), std::string::npos) << check.out;
    EXPECT_EQ(check.out.find("Upload"), std::string::npos) << check.out;
    EXPECT_EQ(run({"diff", a, a}).exit, 0);
    const Outcome diff = run({"diff", a, b, "--json"});
    EXPECT_EQ(diff.exit, 6);
    const QJsonObject d = QJsonDocument::fromJson(QByteArray::fromStdString(diff.out)).object();
    EXPECT_EQ(d["settings"].toArray().size(), 1) << diff.out;
    EXPECT_EQ(d["blocks"].toArray().size(), 1);

    for (const char* lang : {"pl", "en"}) {
        const Outcome show = run({"show", a, "--json", "--lang", lang});
        ASSERT_EQ(show.exit, 0) << show.err;
        const QJsonObject s = QJsonDocument::fromJson(QByteArray::fromStdString(show.out)).object();
        EXPECT_EQ(s["settings"].toArray().size(), static_cast<int>(kelvane::parameterTable().size())) << lang;
        EXPECT_GT(s["tables"].toObject()["residents"].toObject()["rows"].toArray().size(), 10) << lang;
        EXPECT_EQ(s["description"].toString(), "Klatka A");
    }
    // The cards need no display: the tool draws them offscreen whatever the environment says.
    const Outcome cards = run({"cards", a, "-o", (dir / "cards.pdf").string(), "--text", "Klatka A"});
    EXPECT_EQ(cards.exit, 0) << cards.err;
    EXPECT_EQ(slurp(dir / "cards.pdf").substr(0, 5), "%PDF-");
    EXPECT_FALSE(fs::exists(dir / "cards.pdf.tmp"));

    // The sample building keeps the factory password: a warning, exit 6.
    const Outcome lint = run({"lint", a, "--json"});
    EXPECT_EQ(lint.exit, 6);
    EXPECT_NE(lint.out.find("factory-password"), std::string::npos) << lint.out;

    const Outcome text = run({"show", a, "--lang", "pl"});
    EXPECT_NE(text.out.find(std::string("p001  ")), std::string::npos);
    EXPECT_NE(text.out.find(kelvane::texts::toolText(ToolText::No, kelvane::texts::kPolish)), std::string::npos);

    const std::string sentLine = english(ToolText::BlocksSent, 0).substr(0, english(ToolText::BlocksSent, 0).size() - 1);
    // A hand-edited file the register does not know: refused unless --other-controller.
    EXPECT_EQ(run({"upload", "--port", "sim", b, "--yes"}).exit, 7);
    // No terminal and no --yes: nothing is sent.
    const Outcome asked = run({"upload", "--port", "sim", b, "--other-controller"});
    EXPECT_EQ(asked.exit, 1);
    EXPECT_EQ(asked.out.find(sentLine), std::string::npos) << asked.out;
    // The announced line time is the change list's (the window's): a small
    // upload is never "0 s", a full one takes 75 s.
    const auto toSend = [](int blocks, int seconds) {
        char buf[256];
        std::snprintf(buf, sizeof buf, kelvane::texts::toolText(ToolText::BlocksToSend, kelvane::texts::kEnglish),
                      blocks, seconds);
        return std::string(buf);
    };
    // One changed setting: one block, and the controller reads back equal.
    const Outcome up = run({"upload", "--port", "sim", b, "--yes", "--check", "--lang", "en", "--other-controller"});
    EXPECT_EQ(up.exit, 0) << up.err;
    EXPECT_NE(up.out.find(english(ToolText::BlocksSent, 1)), std::string::npos) << up.out;
    EXPECT_NE(up.out.find(toSend(1, 1)), std::string::npos) << up.out;
    // --full: every block goes, whatever the controller holds.
    const Outcome full = run({"upload", "--port", "sim", b, "--full", "--yes", "--lang", "en", "--other-controller"});
    EXPECT_EQ(full.exit, 0) << full.err;
    EXPECT_NE(full.out.find("0–511"), std::string::npos) << full.out;
    EXPECT_NE(full.out.find(toSend(512, 75)), std::string::npos) << full.out;
    // --base trusts the file: nothing differs, nothing is sent.
    const Outcome same = run({"upload", "--port", "sim", b, "--base", b, "--yes", "--lang", "en", "--other-controller"});
    EXPECT_EQ(same.exit, 0);
    EXPECT_EQ(same.out.find(sentLine), std::string::npos) << same.out;
}

// The built-in simulator holds the sample building; a base in which
// resident 1.3 had another open code makes that code one changed at the
// keypad behind the program's back.
TEST_F(Kvtool, UploadAndMergeAgainstABaseKeepWhatChangedAtTheController) {
    const auto openCode = [](Image img, int code) {
        kelvane::writeBcdCode(img, kelvane::residentOffset(kelvane::ResidentCode::Open, 1, 3), code);
        return img;
    };
    const Image sample = kelvane::sampleBuildingImage(), base = openCode(sample, 123);
    Image edited = base;
    kelvane::writeLE16(edited, kelvane::mem::kWords, 3300);
    Image merged = sample;
    kelvane::writeLE16(merged, kelvane::mem::kWords, 3300);
    const std::string b = (dir / "base.kvd").string(), f = (dir / "file.kvd").string(),
                      c = (dir / "conflict.kvd").string(), ctl = (dir / "controller.kvd").string(),
                      out = (dir / "out.kvd").string();
    save(b, base, "Bldg");
    save(f, edited, "Bldg");
    save(c, openCode(base, 4444), "Bldg");
    save(ctl, sample);  // downloaded: no description
    const std::string sent = english(ToolText::BlocksSent, 1);
    const struct {
        std::vector<std::string> args;
        int exit;
        std::string inOut, inErr;
    } cases[] = {
        {{"upload", f, "--base", b, "--check"}, 0, "changed at the controller since", ""},
        {{"upload", c, "--base", b}, 6, "conflicts (1)", "Conflicts: 1"},
        {{"upload", c, "--base", b, "--prefer", "controller", "--check"}, 0, english(ToolText::NoChanges, 0), ""},
        {{"upload", c, "--base", b, "--prefer", "file", "--check"}, 0, sent, ""},
        {{"upload", c, "--base", b, "--overwrite", "--check"}, 0, sent, ""},
        {{"upload", c, "--prefer", "file", "--full"}, 1, "", "--full"},
        {{"upload", c, "--base", b, "--prefer", "both"}, 1, "", "--prefer"},
        {{"merge", b, c, ctl, "-o", out}, 6, "conflicts (1)", "Conflicts: 1"},
        {{"merge", b, f, ctl, "-o", out}, 0, "your changes (to be sent) (1)", ""},
    };
    for (const auto& k : cases) {
        std::vector<std::string> args = k.args;
        // Hand-made files the register does not know.
        if (args[0] == "upload") args.insert(args.end(), {"--port", "sim", "--yes", "--other-controller"});
        args.insert(args.end(), {"--lang", "en"});
        const Outcome r = run(args);
        SCOPED_TRACE(args[0] + " " + args[1] + " " + args.back() + "\n" + r.out + r.err);
        EXPECT_EQ(r.exit, k.exit);
        EXPECT_NE(r.out.find(k.inOut), std::string::npos);
        EXPECT_NE(r.err.find(k.inErr), std::string::npos);
        if (k.exit == 6) {
            EXPECT_EQ(r.out.find(english(ToolText::BlocksSent, 0).substr(0, 11)), std::string::npos) << "nothing sent";
        }
        EXPECT_EQ(fs::exists(out), k.exit == 0 && args[0] == "merge");
    }
    EXPECT_EQ(imageOf(out), merged);
    EXPECT_EQ(kelvane::loadDataFileFrom(out)->description, "Bldg");
}

// The flat actions on the sample building: flat 1.3 (call code 3) has two keys.
TEST_F(Kvtool, FlatActionsWriteTheEditedFileAndPrintWhatChangedAndTheNewCodes) {
    const Image sample = kelvane::sampleBuildingImage();
    save(dir / "a.kvd", sample);
    const std::string a = (dir / "a.kvd").string(), out = (dir / "out.kvd").string();
    const std::string key = kelvane::FormatKeyText(&sample[kelvane::mem::kKeys]);
    const struct {
        std::vector<std::string> args;
        int exit;
        std::string inOut;
    } cases[] = {
        {{"moved-out", a, "1.3"}, 0, "Keys removed: 2"},
        {{"new-resident", a, "1.5", "--new-main"}, 0, "New main code of resident 1.5: "},
        {{"new-resident", a, "1.5", "--json"}, 0, "\"open\": \""},
        {{"lost-key", a, key, "--new-key", "3D 00 00 00 00 00 00 01"}, 0, "New key: 3D 00 00 00 00 00 00 01"},
        {{"general-code", a, "9753", "--code", "4071"}, 0, "New general code: 4071"},
        {{"general-code", a, "1111"}, 8, ""},
        {{"moved-out", a, "2.33"}, 8, ""},
    };
    for (const auto& c : cases) {
        fs::remove(out);
        std::vector<std::string> args = {"flat"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"-o", out, "--lang", "en"});
        const Outcome r = run(args);
        EXPECT_EQ(r.exit, c.exit) << c.args[0] << r.err;
        EXPECT_NE(r.out.find(c.inOut), std::string::npos) << r.out;
        EXPECT_EQ(fs::exists(out), c.exit == 0) << "written only when done";
        if (c.exit == 0) {
            EXPECT_NE(imageOf(out), sample);
        }
    }
    const Outcome cards = run({"cards", a, "-o", (dir / "c.pdf").string(), "--flat", "1.5", "--lang", "en"});
    EXPECT_EQ(cards.exit, 0) << cards.err;
    EXPECT_NE(cards.out.find(english(ToolText::CardPages, 1)), std::string::npos) << cards.out;
    const Outcome none = run({"cards", a, "-o", (dir / "c.pdf").string(), "--flat", "2.33", "--lang", "en"});
    EXPECT_EQ(none.exit, 8) << none.err;
    EXPECT_NE(none.err.find("The flat has no code"), std::string::npos) << none.err;
}

TEST_F(Kvtool, CodeTablesGoToCsvAndBackAndARefusedRowWritesNothing) {
    const std::string a = (dir / "a.kvd").string(), out = (dir / "out.kvd").string();
    save(a, kelvane::sampleBuildingImage());
    ASSERT_EQ(run({"export-csv", a, "-o", (dir / "csv").string()}).exit, 0);
    for (const char* table : {"keys", "residents", "general_codes", "digitizers"}) {
        const std::string csv = (dir / "csv" / (std::string(table) + ".csv")).string();
        const Outcome back = run({"import-csv", a, table, csv, "-o", out});
        EXPECT_EQ(back.exit, 0) << table << back.err;
        EXPECT_EQ(imageOf(out), kelvane::sampleBuildingImage()) << table;
    }
    fs::remove(out);
    std::ofstream(dir / "bad.csv") << slurp(dir / "csv" / "residents.csv") << "9.9;x;;\r\n";
    const Outcome bad = run({"import-csv", a, "residents", (dir / "bad.csv").string(), "-o", out, "--append"});
    EXPECT_EQ(bad.exit, 2);
    EXPECT_NE(bad.err.find(" 74"), std::string::npos) << "the refused row is named by its line: " << bad.err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(run({"import-csv", a, "flats", (dir / "bad.csv").string(), "-o", out}).exit, 1);
}

// The controller simulator at the far end of a socat pty pair.
class KvtoolPty : public Kvtool {
protected:
    void SetUp() override {
        Kvtool::SetUp();
        if (!ptytest::onPath("socat")) GTEST_SKIP() << "socat is not available";
        pair = std::make_unique<ptytest::PtyPair>();
        ASSERT_TRUE(pair->ready());
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
        std::ofstream(dir / "image.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    void startSimulator(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {
            KELVANE_SIM_PATH,           "--port", pair->devPath(), "--image", (dir / "image.bin").string(), "--dump",
            (dir / "dump.bin").string()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        sim = std::make_unique<ptytest::Child>(argv, true);
        ASSERT_TRUE(sim->waitForLine("ready", 3000));
    }
    Image dumped() {
        const std::string d = slurp(dir / "dump.bin");
        Image img{};
        if (d.size() == img.size()) std::copy(d.begin(), d.end(), img.begin());
        return img;
    }
    Image image{};
    std::unique_ptr<ptytest::PtyPair> pair;
    std::unique_ptr<ptytest::Child> sim;
};

TEST_F(KvtoolPty, DownloadEqualsTheControllerAndOneChangedSettingSendsOneBlock) {
    startSimulator();
    const std::string port = pair->appPath(), a = (dir / "a.kvd").string(), b = (dir / "b.kvd").string();
    EXPECT_EQ(run({"probe", "--port", port}).exit, 0);
    ASSERT_EQ(run({"download", "--port", port, "-o", a}).exit, 0);
    EXPECT_EQ(imageOf(a), image);

    Image changed = image;
    changed[kelvane::mem::kParams + 10] ^= 0x01;
    save(b, changed);
    const Outcome up = run({"upload", "--port", port, b, "--yes", "--lang", "en", "--other-controller"});
    EXPECT_EQ(up.exit, 0) << up.err;
    EXPECT_NE(up.out.find(english(ToolText::BlocksSent, 1)), std::string::npos) << up.out;
    EXPECT_EQ(dumped(), changed);
    EXPECT_EQ(run({"check", "--port", port, a}).exit, 6) << "a one-byte difference";
    EXPECT_EQ(run({"check", "--port", port, b}).exit, 0);
}

TEST_F(KvtoolPty, SilentControllerEndsWithExitFourWithinTheBound) {
    startSimulator({"--fault", "silent"});
    const Outcome probe = run({"probe", "--port", pair->appPath()});
    EXPECT_EQ(probe.exit, 4);
    EXPECT_LT(probe.seconds, 5.0);  // three reads of 0.9 s
    save(dir / "a.kvd", image);
    const Outcome up =
        run({"upload", "--port", pair->appPath(), (dir / "a.kvd").string(), "--full", "--yes", "--other-controller"});
    EXPECT_EQ(up.exit, 4);
    // the register's probe (three reads of 0.9 s), one unanswered
    // acknowledgement (5 s) and the end frame's (1 s)
    EXPECT_LT(up.seconds, 11.0);
}

TEST_F(KvtoolPty, DownloadMissingBlocksFailsWithExitFourAndWritesNothing) {
    startSimulator({"--fault", "last-first"});  // block 511 first: the download ends there
    const std::string a = (dir / "a.kvd").string();
    const Outcome down = run({"download", "--port", pair->appPath(), "-o", a, "--lang", "en"});
    EXPECT_EQ(down.exit, 4) << down.err;
    EXPECT_NE(down.err.find("511 of 512"), std::string::npos) << down.err;
    EXPECT_FALSE(fs::exists(a));
}

TEST_F(KvtoolPty, CtrlCEndsUploadAndDownloadWithExit130AndTheirEndStates) {
    startSimulator({"--paced"});
    const std::string port = pair->appPath(), a = (dir / "a.kvd").string();

    // Every block differs: the upload is cut after a few of them and its
    // upload mode is closed with the end frame (the simulator stores what came).
    Image changed = image;
    for (auto& byte : changed) byte ^= 0x5A;
    save(a, changed);
    // Ctrl-C once the first block has arrived, however late a loaded machine gets there.
    const Outcome cut = run({"upload", "--port", port, a, "--full", "--yes", "--lang", "en", "--other-controller"}, 0,
                            [this] { EXPECT_TRUE(sim->waitForLine("upload block", 20000)); });
    EXPECT_EQ(cut.exit, 130) << cut.err;
    EXPECT_LT(cut.secondsAfterSignal, 2.5);
    ASSERT_TRUE(fs::exists(dir / "dump.bin")) << "the end frame closed the upload";
    const Image held = dumped();
    EXPECT_NE(held, changed);
    EXPECT_NE(held, image);
    EXPECT_EQ(run({"probe", "--port", port}).exit, 0) << "the controller answers again";
    // A second Ctrl-C ends it at once, and says what that leaves (4 s: well
    // into the 75 s of sending).
    const Outcome atOnce = kvtool(
        dir, {"upload", "--port", port, a, "--full", "--yes", "--lang", "en", "--other-controller"}, 4000, SIGINT, {}, 2);
    EXPECT_EQ(atOnce.exit, 130) << atOnce.err;
    EXPECT_NE(atOnce.err.find(kelvane::texts::toolText(ToolText::StoppedAtOnce, kelvane::texts::kEnglish)), std::string::npos)
        << atOnce.err;

    const std::string b = (dir / "b.kvd").string();
    const Outcome down = run({"download", "--port", port, "-o", b}, 1500);
    EXPECT_EQ(down.exit, 130) << down.err;
    EXPECT_LT(down.secondsAfterSignal, 1.5);
    EXPECT_FALSE(fs::exists(b)) << "nothing written after a cancelled download";
}

TEST_F(KvtoolPty, RegisterRemembersVisitsAndRefusesAnImageFromAnotherBuilding) {
    startSimulator({"--identity", "0002393005010000"});  // ID 2, serial 12345
    const std::string port = pair->appPath(), a = (dir / "a.kvd").string(), s = (dir / "s.kvd").string(),
                      edited = (dir / "edited.kvd").string(), fresh = (dir / "fresh.kvd").string();
    ASSERT_EQ(run({"download", "--port", port, "-o", a}).exit, 0);
    ASSERT_EQ(run({"register", "name", "12345", "Lipowa 5", "--address", "ul. Lipowa 5"}).exit, 0);
    // An edit of a file downloaded from the built-in controller keeps its building.
    ASSERT_EQ(run({"download", "--port", "sim", "-o", s}).exit, 0);
    std::ofstream(dir / "codes.csv") << "Code;Panel;Bus\r\n9753;255;1\r\n";
    ASSERT_EQ(run({"import-csv", s, "general_codes", (dir / "codes.csv").string(), "-o", edited, "--append"}).exit, 0);
    save(fresh, kelvane::initialImage());
    // A merge of edits to what that controller holds keeps its building.
    const std::string aEdited = (dir / "a_edited.kvd").string(), merged = (dir / "merged.kvd").string();
    Image edit = imageOf(a);
    kelvane::writeLE16(edit, kelvane::mem::kWords, 3300);
    save(aEdited, edit);
    ASSERT_EQ(run({"merge", a, aEdited, a, "-o", merged}).exit, 0);

    const std::string sentLine = english(ToolText::BlocksSent, 0).substr(0, english(ToolText::BlocksSent, 0).size() - 1);
    const struct {
        std::string file, port;
        std::vector<std::string> extra;
        int exit;
    } cases[] = {
        {a, "sim", {"--yes"}, 7},                        // another controller: refused
        {edited, port, {"--yes", "--full"}, 7},          // whatever is sent
        {merged, "sim", {"--yes"}, 7},                   // merged
        {a, "sim", {"--yes", "--other-controller"}, 0},  // confirmed
        {a, port, {"--yes"}, 0},                         // its own controller, though sent elsewhere since
        {fresh, "sim", {"--yes"}, 7},                    // no origin: refused, the controller holds another image
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"upload", "--port", c.port, c.file, "--lang", "en"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Outcome r = run(args);
        EXPECT_EQ(r.exit, c.exit) << c.file << " to " << c.port << ": " << r.err;
        if (c.exit == 7) {
            EXPECT_EQ(r.out.find(sentLine), std::string::npos) << "nothing sent: " << r.out;
        }
        if (c.exit == 7 && c.file != fresh) {
            EXPECT_NE(r.err.find("Lipowa 5 (2/12345)"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("1/4660"), std::string::npos) << r.err;
        }
    }

    // Another controller that holds the very image: nothing to guard, nothing sent.
    sim.reset();
    const Image sample = kelvane::sampleBuildingImage();
    std::ofstream(dir / "image.bin", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(sample.data()), static_cast<std::streamsize>(sample.size()));
    startSimulator({"--identity", "0003393005010000"});
    const Outcome same = run({"upload", "--port", port, s, "--yes", "--lang", "en"});
    EXPECT_EQ(same.exit, 0) << same.err;
    EXPECT_NE(same.out.find(english(ToolText::NoChanges, 0)), std::string::npos) << same.out;
    EXPECT_EQ(same.out.find(sentLine), std::string::npos) << same.out;

    // A code changed at the keypad behind the program's back: the next
    // download says so, and the two visits' images differ by it.
    image[kelvane::mem::kParams + 10] ^= 0x01;
    std::ofstream(dir / "image.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    sim.reset();
    startSimulator({"--identity", "0002393005010000"});
    const Outcome again = run({"download", "--port", port, "-o", (dir / "b.kvd").string(), "--lang", "en"});
    EXPECT_EQ(again.exit, 0) << again.err;
    EXPECT_NE(again.out.find("1 change was made"), std::string::npos) << again.out;

    const Outcome show = run({"register", "show", "2/12345", "--json"});
    ASSERT_EQ(show.exit, 0) << show.err;
    const QJsonObject building = QJsonDocument::fromJson(QByteArray::fromStdString(show.out)).object();
    EXPECT_EQ(building["name"].toString(), "Lipowa 5");
    EXPECT_EQ(building["firmware"].toInt(), 261);
    const QJsonArray visits = building["visitList"].toArray();
    ASSERT_EQ(visits.size(), 2) << show.out;  // two downloads; the upload of what it held sent nothing
    EXPECT_EQ(visits[0].toObject()["changes"].toInt(), 1);
    const std::string newest = std::to_string(visits[0].toObject()["visit"].toInt()),
                      oldest = std::to_string(visits[1].toObject()["visit"].toInt());
    EXPECT_EQ(run({"register", "diff", "12345", oldest, newest}).exit, 6);
    EXPECT_EQ(run({"register", "export", "12345", oldest, "-o", (dir / "old.kvd").string()}).exit, 0);
    EXPECT_EQ(imageOf(dir / "old.kvd"), imageOf(a));
    EXPECT_EQ(run({"register", "show", "999"}).exit, 2);
    EXPECT_EQ(run({"register", "diff", "12345", oldest, "0"}).exit, 2);
}

// The upload's scenarios (tests/jobs/upload_scenarios.h) through kvtool:
// the guard refuses with exit 7 where the window asks, --other-controller
// answers "send anyway".
TEST_F(KvtoolPty, UploadScenariosEndWithWhatTheControllerShouldHold) {
    namespace us = upload_scenarios;
    const fs::path reg = dir / "register.sqlite";
    const auto writeImage = [&](const Image& img) {
        std::ofstream(dir / "image.bin", std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(img.data()), static_cast<std::streamsize>(img.size()));
    };
    // The office records with the key kvtool seals with: this test's own.
    kelvane::registry::setKeyFile((dir / "data.key").string());
    kelvane::registry::reloadDataKey();
    for (const us::Scenario& c : us::kScenarios) {
        SCOPED_TRACE(c.name);
        sim.reset();
        for (const char* f : {"register.sqlite", "register.sqlite-wal", "register.sqlite-shm", "dump.bin"})
            fs::remove(dir / f);
        const std::string port = pair->appPath();
        std::string file = (dir / "office.kvd").string();
        // What the technician starts from, in the order they would.
        writeImage(us::imageA());
        startSimulator();
        if (c.start == us::Start::File) {
            save(file, us::edited(us::imageA()));
            ASSERT_TRUE(us::recordOffice(reg.string(), file));
        } else if (c.start == us::Start::Download) {
            const std::string read = (dir / "read.kvd").string();
            file = (dir / "edited.kvd").string();
            ASSERT_EQ(run({"download", "--port", port, "-o", read}).exit, 0);
            std::ofstream(dir / "codes.csv") << "Code;Panel;Bus\r\n9753;255;1\r\n";
            ASSERT_EQ(
                run({"import-csv", read, "general_codes", (dir / "codes.csv").string(), "-o", file, "--append"}).exit, 0);
        } else {
            ASSERT_TRUE(us::recordOffice(reg.string(), (dir / "office.kvd").string()));
            const QJsonObject shown =
                QJsonDocument::fromJson(QByteArray::fromStdString(run({"register", "show", "4660", "--json"}).out)).object();
            const std::string visit = std::to_string(shown["visitList"].toArray()[0].toObject()["visit"].toInt());
            file = (dir / "visit.kvd").string();
            ASSERT_EQ(run({"register", "export", "4660", visit, "-o", file}).exit, 0);
        }
        // The controller now connected.
        sim.reset();
        const Image before = c.connect == us::Connect::Other ? us::imageB()
                             : c.keypad                      ? us::keypad(us::imageA())
                                                             : us::imageA();
        writeImage(before);
        std::vector<std::string> extra;
        if (c.connect == us::Connect::Other) extra = {"--identity", us::kIdentityB};
        if (c.connect == us::Connect::Silent) extra = {"--fault", "silent"};
        startSimulator(extra);
        if (c.reg == us::Reg::Broken) std::ofstream(reg, std::ios::trunc) << "random bytes, no database";
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lock"));
        std::optional<QSqlQuery> lock;
        if (c.reg == us::Reg::Locked) {
            db.setDatabaseName(QString::fromStdString(reg.string()));
            ASSERT_TRUE(db.open());
            lock.emplace(db);
            ASSERT_TRUE(lock->exec(QStringLiteral("BEGIN EXCLUSIVE")));
        }
        std::vector<std::string> args = {"upload", "--port", port, file, "--yes", "--lang", "en"};
        if (c.guard == us::Guard::Send) args.push_back("--other-controller");
        if (c.everyBlock) args.push_back("--full");
        const Outcome r = run(args);
        if (lock) lock->exec(QStringLiteral("ROLLBACK"));
        lock.reset();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("lock"));
        EXPECT_EQ(r.exit, c.guard == us::Guard::Cancel ? 7 : 0) << r.out << r.err;
        if (c.guard == us::Guard::Cancel) {
            EXPECT_EQ(r.out.find("Blocks sent"), std::string::npos) << r.out;
            EXPECT_EQ(r.err.find("()"), std::string::npos) << "the reason is named: " << r.err;
        }
        sim.reset();  // the simulator writes what it holds as it ends
        EXPECT_EQ(dumped(), us::expected(c, imageOf(file), before));
    }
}

TEST_F(Kvtool, DamagedOrLockedRegisterNeverStopsATransfer) {
    const fs::path reg = dir / "register.sqlite";
    const std::string a = (dir / "a.kvd").string();
    // A register another program holds locked.
    ASSERT_EQ(run({"register", "list"}).exit, 0);
    {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lock"));
        db.setDatabaseName(QString::fromStdString(reg.string()));
        ASSERT_TRUE(db.open());
        QSqlQuery lock(db);
        ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        const Outcome r = run({"download", "--port", "sim", "-o", a, "--lang", "en"});
        EXPECT_EQ(r.exit, 0) << r.err;
        EXPECT_EQ(imageOf(a), kelvane::sampleBuildingImage());
        EXPECT_NE(r.err.find("Visit not recorded"), std::string::npos) << r.err;
        lock.exec(QStringLiteral("ROLLBACK"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("lock"));
    // A register that is no database at all.
    fs::remove(a);
    std::ofstream(reg, std::ios::trunc) << "not a database, only text";
    const Outcome r = run({"download", "--port", "sim", "-o", a, "--lang", "en"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(imageOf(a), kelvane::sampleBuildingImage());
    EXPECT_NE(r.err.find("Visit not recorded"), std::string::npos) << r.err;
    // An edited file is written all the same, and its upload's refusal foretold.
    const std::string b = (dir / "b.kvd").string();
    const Outcome edit = run({"flat", "moved-out", a, "1.3", "-o", b, "--lang", "en"});
    EXPECT_EQ(edit.exit, 0) << edit.err;
    EXPECT_TRUE(fs::exists(b));
    EXPECT_NE(edit.err.find("did not note which building"), std::string::npos) << edit.err;
}

TEST_F(Kvtool, FlashProgramsTheBootloaderOverAPtyEqualToTheFile) {
    if (!ptytest::onPath("socat")) GTEST_SKIP() << "socat is not available";
    const fs::path link = dir / "orva", flash = dir / "flash.bin", firmware = dir / "fw.dat";
    std::string body(5000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 31 + 5);
    std::ofstream(firmware, std::ios::binary) << "Orva" << body;
    ptytest::Child boot({ORVA_BOOTLOADER_SIM, "--pty-link", link.string(), "--flash-out", flash.string()}, true);
    ASSERT_TRUE(boot.waitForLine("ready", 3000));
    // The bootloader simulator answers no configuration probe: nothing to back up.
    const Outcome r = run({"flash", "--port", link.string(), firmware.string(), "--no-backup"});
    EXPECT_EQ(r.exit, 0) << r.out << r.err;
    const std::string flashed = slurp(flash);
    ASSERT_EQ(flashed.size(), 122880u);
    EXPECT_EQ(flashed.substr(0, body.size()), body);
    EXPECT_EQ(flashed.find_first_not_of('\xFF', body.size()), std::string::npos) << "the rest erased";
}

// A bootloader that goes away mid-flash is no answer (exit 4), not a
// refusal; the run speaks the tool's language.
TEST_F(Kvtool, FlashCutOffMidwayExitsFourInTheToolsLanguage) {
    if (!ptytest::onPath("socat")) GTEST_SKIP() << "socat is not available";
    const fs::path link = dir / "orva", firmware = dir / "fw.dat";
    std::ofstream(firmware, std::ios::binary) << "Orva" << std::string(5000, '\x21');
    ptytest::Child boot({ORVA_BOOTLOADER_SIM, "--pty-link", link.string(), "--pace"}, true);
    ASSERT_TRUE(boot.waitForLine("ready", 3000));
    std::thread cut([&] {
        std::this_thread::sleep_for(std::chrono::seconds(12));  // probe 3 s, pauses 5 s, programming 34 s
        boot.stop();
    });
    const Outcome r = run({"flash", "--port", link.string(), firmware.string(), "--lang", "en", "--no-backup"});
    cut.join();
    EXPECT_EQ(r.exit, 4) << r.out << r.err;
    EXPECT_NE(r.out.find(kelvane::texts::toolText(ToolText::FlashProgramming, kelvane::texts::kEnglish)), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Programowanie"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(kelvane::texts::toolText(ToolText::FlashTimeout, kelvane::texts::kEnglish)), std::string::npos)
        << r.err;
}

// The whole job against the built-in simulator (configuration link and
// bootloader in one controller, in virtual time): the backup kept, the flash,
// the controller's return, and the configuration compared with the backup
// and restored from it; a file that is not firmware stops it before anything
// is sent.
TEST_F(Kvtool, FlashJobVerifiesAndRestoresTheConfigurationAndRefusesAFileThatIsNotFirmware) {
    using kelvane::texts::kEnglish;
    using kelvane::texts::Message;
    const fs::path firmware = dir / "fw.dat", notFirmware = dir / "notfw.dat", trace = dir / "flash.trace";
    std::ofstream(firmware, std::ios::binary) << "Orva" << std::string(5000, '\x21');
    std::ofstream(notFirmware, std::ios::binary) << "orva" << std::string(5000, '\x21');
    // Compared with the backup, not with a file.
    const std::string same = kelvane::texts::configurationAsBefore(kEnglish);
    const std::string reg = (dir / "reg.sqlite").string();
    const std::string restored = kelvane::texts::messageText(Message::UploadDone, kEnglish);
    const struct {
        const char* newFirmware;  // KELVANE_SIM_FIRMWARE
        std::vector<std::string> options;
        int exit;
        std::vector<std::string> out;  // in this order
        std::string err;
        bool sent, backup;
    } cases[] = {
        {"", {"--verify-config", "--register", reg}, 0, {"power supply ID 1, serial number 4660", same}, "", true, true},
        {"resets", {"--verify-config"}, 6, {}, "Differences:", true, true},
        {"resets", {"--restore-config", "--yes"}, 0, {restored, same}, "Differences:", true, true},
        // No terminal to ask on and no --yes: the backup stays unsent.
        {"resets", {"--restore-config"}, 6, {}, kelvane::texts::toolText(ToolText::NoTerminal, kEnglish), true, true},
        // The failed step, its cause and what to do next.
        {"silent", {"--verify-config"}, 4, {}, "Controller back \u2717 no answer for 30 s after the flash", true, true},
        {"", {notFirmware.string(), "--verify-config"}, 2, {}, notFirmware.string(), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.newFirmware) + " " + c.options[0]);
        fs::remove_all(dir / ".local");
        fs::remove(trace);
        ::setenv("KELVANE_SIM_FIRMWARE", c.newFirmware, 1);
        std::vector<std::string> args{"flash", "--port", "sim", "--lang", "en", "--trace", trace.string()};
        if (c.options[0] != notFirmware.string()) args.push_back(firmware.string());
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Outcome r = run(args);
        ::unsetenv("KELVANE_SIM_FIRMWARE");
        EXPECT_EQ(r.exit, c.exit) << r.out << r.err;
        std::size_t at = 0;
        for (const auto& line : c.out) {
            at = r.out.find(line, at);
            EXPECT_NE(at, std::string::npos) << line << " in\n" << r.out;
        }
        if (c.out.empty()) {
            EXPECT_EQ(r.out.find(same), std::string::npos) << r.out;
        }
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        if (c.options.size() > 1 && c.options[1] == "--register") {
            EXPECT_TRUE(fs::exists(reg));
        }
        const std::string sent = slurp(trace);
        if (c.sent) {
            EXPECT_NE(sent.find("|ReseteKM|"), std::string::npos);
        } else {
            EXPECT_EQ(sent.find("  > "), std::string::npos) << sent;
        }
        // The backup: the controller's configuration before the flash, private.
        const fs::path backups = dir / ".local/share/Kelvane/Orva_Upgrade/backups";
        std::vector<fs::path> kept;
        if (fs::exists(backups))
            for (const auto& e : fs::directory_iterator(backups)) kept.push_back(e.path());
        ASSERT_EQ(kept.size(), c.backup ? 1u : 0u);
        if (!c.backup) continue;
        EXPECT_EQ(imageOf(kept[0]), kelvane::sampleBuildingImage());
        EXPECT_EQ(fs::status(kept[0]).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_NE(r.out.find(kept[0].string()), std::string::npos) << "its path printed";
    }
}

// The whole firmware job against the controller on a pty: the configuration
// backed up before the flash, the new firmware back, the configuration
// downloaded again and compared. A firmware that keeps it verifies equal; one
// that starts from the initial image is caught (exit 6).
TEST_F(Kvtool, FlashJobOverAPtyBacksUpFlashesAndVerifiesTheConfiguration) {
    if (!ptytest::onPath("socat")) GTEST_SKIP() << "socat is not available";
    const fs::path link = dir / "orva", flash = dir / "flash.bin", firmware = dir / "fw.dat";
    std::string body(3000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + 1);
    std::ofstream(firmware, std::ios::binary) << "Orva" << body;
    struct Case {
        const char* afterFlash;
        int exit;
    };
    for (const Case& c : {Case{"keep", 0}, Case{"reset", 6}}) {
        SCOPED_TRACE(c.afterFlash);
        fs::remove_all(dir / ".local");
        fs::remove(flash);
        ptytest::Child sim({ORVA_BOOTLOADER_SIM, "--pty-link", link.string(), "--controller", "--boot-ms", "500",
                            "--after-flash", c.afterFlash, "--dump", flash.string()},
                           true);
        ASSERT_TRUE(sim.waitForLine("ready", 3000));
        const Outcome r = run({"flash", "--port", link.string(), firmware.string(), "--verify-config", "--lang", "en"});
        EXPECT_EQ(r.exit, c.exit) << r.out << r.err;
        for (const char* step : {"download served", "back firmware=106", "download served"})
            EXPECT_TRUE(sim.waitForLine(step, 5000)) << step;
        const std::string flashed = slurp(flash);
        ASSERT_EQ(flashed.size(), 122880u);
        EXPECT_EQ(flashed.substr(0, body.size()), body);
        std::vector<fs::path> backups;
        for (const auto& e : fs::recursive_directory_iterator(dir / ".local"))
            if (e.path().extension() == ".kvs") backups.push_back(e.path());  // sealed
        ASSERT_EQ(backups.size(), 1u) << r.out;
        EXPECT_EQ(imageOf(backups[0]), kelvane::sampleBuildingImage()) << "the backup holds what the controller held";
    }
}

// The hex of a frame as a trace shows it.
std::string frameHex(const Image& img, unsigned block) {
    std::string hex;
    char b[8];
    std::snprintf(b, sizeof b, "%02X %02X", block & 0xFF, block >> 8);
    hex = b;
    for (unsigned i = 0; i < kelvane::kBlockSize; ++i) {
        std::snprintf(b, sizeof b, " %02X", img[block * kelvane::kBlockSize + i]);
        hex += b;
    }
    return hex;
}

TEST_F(Kvtool, TracesAndTheSupportBundleOpenElsewhereAndHoldNoCodeOfTheController) {
    const Image original = kelvane::sampleBuildingImage();
    const std::string a = (dir / "a.kvd").string(), trace = (dir / "chosen.trace").string();
    ASSERT_EQ(run({"download", "--port", "sim", "-o", a, "--trace", trace}).exit, 0);
    ASSERT_EQ(imageOf(a), original);
    const std::string chosen = slurp(trace);
    EXPECT_EQ(fs::status(trace).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    const unsigned codeBlock = kelvane::mem::kLogicalLU1 / kelvane::kBlockSize;
    EXPECT_NE(chosen.find(frameHex(original, codeBlock)), std::string::npos) << "the user's trace holds the codes";
    ASSERT_EQ(run({"download", "--port", "sim", "-o", a}).exit, 0);  // into the traces folder
    // Both runs left their traces in the folder, masked as they were written.
    int stored = 0;
    for (const auto& e : fs::directory_iterator(dir / ".local/share/Kelvane/kvtool/traces")) {
        if (e.path().extension() != ".trace") continue;
        ++stored;
        EXPECT_EQ(slurp(e.path()).find(frameHex(original, codeBlock)), std::string::npos) << e.path();
    }
    EXPECT_EQ(stored, 4);

    const fs::path zip = dir / "bundle.zip", out = dir / "unzipped";
    std::ofstream(zip) << "an older file others could read";
    fs::permissions(zip, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    const Outcome b = run({"support-bundle", "-o", zip.string(), "--image", a});
    ASSERT_EQ(b.exit, 0) << b.err;
    EXPECT_EQ(fs::status(zip).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    const std::string py =
        "import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1])\nassert z.testzip() is None\n"
        "z.extractall(sys.argv[2])\nprint(chr(10).join(z.namelist()))";
    ptytest::Child python({"python3", "-c", py, zip.string(), out.string()}, true);
    ASSERT_TRUE(python.waitForLine("image-masked.kvd", 10000)) << "python's zipfile opens the bundle";
    for (const char* name : {"versions.txt", "ports.txt", "settings/KelvaneMini.conf", "image-masked.kvd"})
        EXPECT_TRUE(fs::exists(out / name)) << name;

    int traces = 0;
    for (const auto& e : fs::directory_iterator(out / "traces")) {
        ++traces;
        const std::string text = slurp(e.path());
        EXPECT_EQ(text.find(frameHex(original, codeBlock)), std::string::npos) << e.path();
    }
    EXPECT_EQ(traces, 4) << "of each run the probe that names the controller for the register, and the download";
    const std::string log = slurp(out / "logs" / "kvtool.log");
    EXPECT_NE(log.find("info: line session on Symulator (kvtool"), std::string::npos) << log;
    EXPECT_NE(log.find("closed after"), std::string::npos) << log;

    const auto masked = kelvane::loadDataFileFrom((out / "image-masked.kvd").string());
    ASSERT_TRUE(masked);
    for (std::size_t off = 0; off + 1 < kelvane::kImageSize; off += 2) {
        if (!kelvane::isSecretByte(off) || off >= kelvane::mem::kKeys ||
            (original[off] == 0xFF && original[off + 1] == 0xFF))
            continue;
        EXPECT_FALSE(masked->image[off] == original[off] && masked->image[off + 1] == original[off + 1])
            << "code at " << off;
    }
}

TEST_F(Kvtool, LineTestOverALoopbackLosesNothingAndProbesAController) {
    if (!ptytest::onPath("socat")) GTEST_SKIP() << "socat is not available";
    const fs::path plug = dir / "loopback";
    ptytest::Child socat({"socat", "pty,raw,echo=0,link=" + plug.string(), "PIPE"});
    for (int i = 0; i < 200 && !fs::exists(plug); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const Outcome loop = run({"line-test", "--port", plug.string()});
    EXPECT_EQ(loop.exit, 0) << loop.out << loop.err;
    for (const char* pass : {"2400 baud: 512 sent, 512 back, 0 lost, 0 changed, 0 extra",
                             "57600 baud: 512 sent, 512 back, 0 lost, 0 changed, 0 extra"})
        EXPECT_NE(loop.out.find(pass), std::string::npos) << loop.out;
    const Outcome probes = run({"line-test", "--port", "sim"});
    EXPECT_EQ(probes.exit, 0) << probes.err;
    EXPECT_NE(probes.out.find("Answers: 20 of 20"), std::string::npos) << probes.out;
}

// The pages that quote the programs say what their own --help says: each
// command's synopsis, only options the command (or simulator) takes, kvtool's
// exit codes and time limits.
std::string helpOf(const std::string& program) {
    std::string out;
    if (FILE* p = ::popen((program + " --help 2>/dev/null").c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

std::string squeezed(const std::string& text) { return std::regex_replace(text, std::regex("\\s+"), " "); }

std::string section(const std::string& text, const std::string& from, const std::string& to) {
    const auto begin = text.find(from);
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find(to, begin + from.size()) - begin);
}

std::set<std::string> allOf(const std::string& text, const std::string& pattern) {
    std::set<std::string> found;
    const std::regex re(pattern, std::regex::multiline);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
        found.insert((*it)[1]);
    return found;
}

TEST_F(Kvtool, DocsQuoteTheProgramsOwnHelp) {
    const fs::path source = KELVANE_SOURCE_DIR;
    std::map<std::string, std::string> pages;
    for (const auto& entry : fs::directory_iterator(source / "docs"))
        if (entry.path().extension() == ".md") pages[entry.path().filename().string()] = slurp(entry.path());
    for (const char* top : {"README.md", "CONTRIBUTING.md"}) pages[top] = slurp(source / top);
    const std::string reference = pages["kvtool.md"];
    ASSERT_FALSE(reference.empty());
    const std::string help = run({"--help"}).out;

    const std::string commands = section(help, "Commands:\n", "\nEvery command takes");
    std::istringstream lines(commands.substr(commands.find('\n') + 1));
    int synopses = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  ", 0) != 0 || line.rfind("      ", 0) == 0) continue;  // a summary line
        ++synopses;
        EXPECT_NE(squeezed(reference).find(squeezed("kvtool" + line)), std::string::npos) << line;
    }
    EXPECT_GT(synopses, 10) << help;

    EXPECT_EQ(allOf(section(reference, "## Exit codes", "\n## "), R"(^\| (\d+) \|)"),
              allOf(section(help, "Exit codes:", "\n\n"), R"(^  (\d+) )"));
    const std::string seconds = R"((\d+(?:\.\d+)?) s\b)";
    std::string limits;  // the table's rows, not the prose around it
    std::istringstream limitLines(section(reference, "## Time limits", "\n## "));
    for (std::string line; std::getline(limitLines, line);)
        if (line.rfind('|', 0) == 0) limits += line + '\n';
    EXPECT_EQ(allOf(limits, seconds), allOf(section(help, "Time limits", "\n\n"), seconds));

    // Every quoted command line of kvtool or a simulator, in code, names options it takes.
    const std::map<std::string, std::string> programs = {
        {"kvtool", KVTOOL_PATH}, {"kelvane_sim", KELVANE_SIM_PATH}, {"orva_bootloader_sim", ORVA_BOOTLOADER_SIM}};
    const std::regex quoted(R"(`([^`\n]+)`|^ {4}(\S.*)$)", std::regex::multiline);
    const std::regex call(R"(^(?:\S*/)?(kvtool|kelvane_sim|orva_bootloader_sim)(?:\.exe)?(?: ([a-z][a-z-]*))?(.*))");
    std::map<std::string, std::string> helps;
    int calls = 0;
    for (const auto& [name, text] : pages)
        for (auto it = std::sregex_iterator(text.begin(), text.end(), quoted); it != std::sregex_iterator(); ++it) {
            const std::string code = (*it)[1].matched ? (*it)[1].str() : (*it)[2].str();
            std::smatch m;
            if (!std::regex_search(code, m, call)) continue;
            ++calls;
            const std::string command = m[1] == "kvtool" ? m[2].str() : "";
            const std::string program = programs.at(m[1]) + (command.empty() ? "" : " " + command);
            if (!helps.count(program)) helps[program] = helpOf(program);
            const std::string& options = helps[program];
            EXPECT_FALSE(options.empty()) << name << ": " << code;
            for (const std::string& option : allOf(m[3].str(), R"((--[a-z][a-z-]*))"))
                EXPECT_TRUE(std::regex_search(options, std::regex(option + "(?![a-z-])"))) << name << ": " << code;
        }
    EXPECT_GT(calls, 20) << "the pages quote the programs";
}

}  // namespace

// The company register: two laptops (two homes, one key) and one PostgreSQL
// server started by tests/registry/with_postgres.sh (KELVANE_PG_URL).
class CompanyRegister : public KvtoolPty {
protected:
    void SetUp() override {
        if (!std::getenv("KELVANE_PG_URL")) GTEST_SKIP() << "runs under tests/registry/with_postgres.sh";
        KvtoolPty::SetUp();
        url = std::getenv("KELVANE_PG_URL");
        ::setenv("KELVANE_KEY_FILE", (dir / "data.key").c_str(), 1);  // one company key
        laptop2 = dir / "laptop2";
        fs::create_directories(laptop2);
        server = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("company"));
        server.setHostName(QString::fromLocal8Bit(std::getenv("KELVANE_PG_DIR")));
        server.setPort(std::atoi(std::getenv("KELVANE_PG_PORT")));
        server.setUserName(QStringLiteral("kelvane"));
        server.setDatabaseName(QStringLiteral("company"));
        ASSERT_EQ(run({"register", "server-setup", url}).exit, 0);
        ASSERT_TRUE(server.open());
    }
    void TearDown() override {
        if (server.isValid()) {
            QSqlQuery(server).exec(QStringLiteral("DROP SCHEMA public CASCADE; CREATE SCHEMA public"));
            server.close();
        }
        server = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("company"));
        ::unsetenv("KELVANE_KEY_FILE");
        KvtoolPty::TearDown();
    }
    // Row counts of a table on the server and in a laptop's register.
    long long serverCount(const char* table) {
        QSqlQuery q(server);
        return q.exec(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table))) && q.next()
                   ? q.value(0).toLongLong()
                   : -1;
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
    void expectEqualEverywhere(const fs::path& home) {
        for (const char* table : {"visits", "images", "saved_files", "field_history", "controllers"})
            EXPECT_EQ(localCount(home, table), serverCount(table)) << table;
    }
    std::string url;
    fs::path laptop2;
    QSqlDatabase server;
};

TEST_F(CompanyRegister, TwoLaptopsShareVisitsFilesAndNamesAndTheGuardSeesThem) {
    namespace us = upload_scenarios;
    EXPECT_NE(run({"register", "server-setup", url}).out.find("nothing to do"), std::string::npos);
    const auto writeImage = [&](const Image& img) {
        std::ofstream(dir / "image.bin", std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(img.data()), static_cast<std::streamsize>(img.size()));
    };
    // Laptop 2 has read A; then laptop 1 (Jan Kowalski) reads it and edits
    // the file, and names the building.
    writeImage(us::imageA());
    startSimulator();
    const std::string port = pair->appPath(), read = (dir / "read.kvd").string();
    ASSERT_EQ(kvtool(laptop2, {"download", "--port", port, "-o", (laptop2 / "own.kvd").string()}).exit, 0);
    ASSERT_EQ(run({"download", "--port", port, "-o", read, "--technician", "Jan Kowalski"}).exit, 0);
    std::ofstream(dir / "codes.csv") << "Code;Panel;Bus\r\n9753;255;1\r\n";
    ASSERT_EQ(run({"import-csv", read, "general_codes", (dir / "codes.csv").string(), "-o",
                   (laptop2 / "edited.kvd").string(), "--append"})
                  .exit,
              0);
    // Both name the building before either syncs; laptop 2 later.
    ASSERT_EQ(run({"register", "name", "4660", "Lipowa 5"}).exit, 0);
    ASSERT_EQ(kvtool(laptop2, {"register", "name", "1/4660", "Lipowa 7"}).exit, 0);
    ASSERT_EQ(run({"register", "sync", "--server", url}).exit, 0);
    const Outcome two = kvtool(laptop2, {"register", "sync", "--server", url, "--json"});
    ASSERT_EQ(two.exit, 0) << two.err;
    const QJsonObject pulled = QJsonDocument::fromJson(QByteArray::fromStdString(two.out)).object()["pulled"].toObject();
    EXPECT_EQ(pulled["visits"].toInt(), 1) << two.out;
    EXPECT_GE(pulled["savedFiles"].toInt(), 1) << two.out;
    // Laptop 1 again (the URL kept): the newer name wins, both are kept.
    ASSERT_EQ(run({"register", "sync"}).exit, 0);
    for (const fs::path& home : {dir, laptop2}) {
        SCOPED_TRACE(home.string());
        EXPECT_NE(kvtool(home, {"register", "show", "1/4660"}).out.find("Lipowa 7"), std::string::npos);
        EXPECT_NE(kvtool(home, {"register", "history", "1/4660"}).out.find("Lipowa 5"), std::string::npos);
    }
    // Laptop 2's upload of laptop 1's file: refused for B, merged at A.
    sim.reset();
    writeImage(us::imageB());
    startSimulator({"--identity", us::kIdentityB});
    const std::string file = (laptop2 / "edited.kvd").string();
    EXPECT_EQ(kvtool(laptop2, {"upload", "--port", port, file, "--yes", "--lang", "en"}).exit, 7);
    sim.reset();
    writeImage(us::keypad(us::imageA()));
    startSimulator();
    const Outcome merged = kvtool(laptop2, {"upload", "--port", port, file, "--yes", "--lang", "en"});
    EXPECT_EQ(merged.exit, 0) << merged.out << merged.err;
    EXPECT_NE(merged.out.find("since 20"), std::string::npos) << merged.out;
    EXPECT_NE(merged.out.find("(Jan K.)"), std::string::npos) << merged.out;
    sim.reset();
    EXPECT_EQ(dumped(), us::keypad(imageOf(file)));
    ASSERT_EQ(kvtool(laptop2, {"register", "sync"}).exit, 0);
    ASSERT_EQ(run({"register", "sync"}).exit, 0);
    expectEqualEverywhere(dir);
    expectEqualEverywhere(laptop2);
    // The server holds sealed images only: none opens as a packed image, and
    // no run of the plain images' bytes is there.
    QSqlQuery images(server);
    ASSERT_TRUE(images.exec(QStringLiteral("SELECT data FROM images")));
    int seen = 0;
    while (images.next()) {
        ++seen;
        const QByteArray data = images.value(0).toByteArray();
        EXPECT_NE(qUncompress(data).size(), static_cast<qsizetype>(kelvane::kImageSize));
        for (const Image& plain : {us::imageA(), us::keypad(us::imageA()), imageOf(file)})
            for (std::size_t at = kelvane::mem::kParams; at + 32 <= plain.size(); at += 512)
                EXPECT_EQ(data.indexOf(QByteArray(reinterpret_cast<const char*>(plain.data() + at), 32)), -1);
    }
    EXPECT_GE(seen, 2);
}

// A server set up anew (or another one) gets everything again: what was
// marked pushed and pulled held for the server before.
TEST_F(CompanyRegister, AServerSetUpAnewGetsEverythingAgain) {
    ASSERT_EQ(run({"download", "--port", "sim", "-o", (dir / "a.kvd").string()}).exit, 0);
    ASSERT_EQ(run({"register", "sync", "--server", url}).exit, 0);
    ASSERT_TRUE(QSqlQuery(server).exec(QStringLiteral("DROP SCHEMA public CASCADE; CREATE SCHEMA public")));
    ASSERT_EQ(run({"register", "server-setup", url}).exit, 0);
    ASSERT_EQ(kvtool(laptop2, {"register", "sync", "--server", url}).exit, 0);
    const Outcome again = run({"register", "sync"});
    ASSERT_EQ(again.exit, 0) << again.err;
    expectEqualEverywhere(dir);
    EXPECT_EQ(serverCount("visits"), 1);
}

// A change of the company's key: the laptop that made it seals the server's
// images again at its next sync (the old hashes are gone, every visit points
// to its image anew); a laptop with the old key is refused, keeps its visit
// waiting, and sends it once it has imported the new key.
TEST_F(CompanyRegister, AChangedKeyReachesTheServerAndALaptopWithTheOldKeyWaitsForIt) {
    // A whole image and a difference from it, of one controller.
    startSimulator();
    const std::string port = pair->appPath();
    ASSERT_EQ(run({"download", "--port", port, "-o", (dir / "a.kvd").string()}).exit, 0);
    sim.reset();
    image[kelvane::mem::kParams + 22] ^= 1;
    std::ofstream(dir / "image.bin", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    startSimulator();
    ASSERT_EQ(run({"download", "--port", port, "-o", (dir / "b.kvd").string()}).exit, 0);
    const std::string oldKey = (laptop2 / "old.key").string();
    fs::copy_file(dir / "data.key", oldKey);
    ASSERT_EQ(run({"register", "sync", "--server", url}).exit, 0);
    ASSERT_EQ(kvtool(laptop2, {"register", "sync", "--server", url, "--key-file", oldKey}).exit, 0);
    const auto serverHashes = [this] {
        std::set<QByteArray> hashes;
        QSqlQuery q(server);
        for (q.exec(QStringLiteral("SELECT hash FROM images")); q.next();) hashes.insert(q.value(0).toByteArray());
        return hashes;
    };
    const std::set<QByteArray> before = serverHashes();
    ASSERT_EQ(before.size(), 2u);

    const Outcome rotated = run({"key", "rotate"});
    ASSERT_EQ(rotated.exit, 0) << rotated.err;
    EXPECT_NE(rotated.out.find("kept until the next sync"), std::string::npos) << rotated.out;
    EXPECT_EQ(run({"key", "rotate"}).exit, 2) << "the change is not finished";
    const Outcome synced = run({"register", "sync", "--json"});
    ASSERT_EQ(synced.exit, 0) << synced.err;
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(synced.out)).object()["pushed"].toObject()["images"], 0)
        << "sealed again on the server, not sent again: " << synced.out;
    EXPECT_FALSE(fs::exists(dir / "data.key.previous")) << "forgotten once the server has the new key";
    const std::string id = run({"key", "status"}).out.substr(4, 32);
    QSqlQuery key(server);
    ASSERT_TRUE(key.exec(QStringLiteral("SELECT value FROM settings WHERE key = 'data key'")) && key.next());
    EXPECT_EQ(key.value(0).toString().toStdString(), id);
    const std::set<QByteArray> after = serverHashes();
    EXPECT_EQ(after.size(), before.size());
    for (const QByteArray& hash : before) EXPECT_EQ(after.count(hash), 0u);
    expectEqualEverywhere(dir);

    // Laptop 2 still has the old key: its new visit waits.
    ASSERT_EQ(
        kvtool(laptop2, {"download", "--port", port, "-o", (laptop2 / "c.kvd").string(), "--key-file", oldKey}).exit, 0);
    const Outcome refused = kvtool(laptop2, {"register", "sync", "--key-file", oldKey});
    EXPECT_EQ(refused.exit, 4);
    EXPECT_NE(refused.err.find("import the company's key"), std::string::npos) << refused.err;
    std::ofstream(dir / "pass") << "correct horse battery\n";
    const std::string pass = (dir / "pass").string(), exported = (dir / "key.kvk").string();
    ASSERT_EQ(run({"key", "export", exported, "--passphrase-file", pass}).exit, 0);
    const Outcome imported = kvtool(laptop2, {"key", "import", exported, "--passphrase-file", pass, "--key-file", oldKey});
    ASSERT_EQ(imported.exit, 0) << imported.err;
    const Outcome sent = kvtool(laptop2, {"register", "sync", "--key-file", oldKey});
    ASSERT_EQ(sent.exit, 0) << sent.err;
    ASSERT_EQ(run({"register", "sync"}).exit, 0);
    expectEqualEverywhere(dir);
    expectEqualEverywhere(laptop2);
    EXPECT_EQ(serverCount("visits"), 3);
    // Every visit's image opens on both laptops.
    for (const fs::path& home : {dir, laptop2}) {
        SCOPED_TRACE(home.string());
        const std::vector<std::string> keyFile = {"--key-file", home == dir ? (dir / "data.key").string() : oldKey};
        std::vector<std::string> show = {"register", "show", "1/4660", "--json"};
        show.insert(show.end(), keyFile.begin(), keyFile.end());
        const auto visits =
            QJsonDocument::fromJson(QByteArray::fromStdString(kvtool(home, show).out)).object()["visitList"].toArray();
        EXPECT_EQ(visits.size(), 3);
        for (const auto& v : visits) {
            std::vector<std::string> args = {"register", "export",
                                             "1/4660",   std::to_string(v.toObject()["visit"].toInt()),
                                             "-o",       (home / "got.kvd").string()};
            args.insert(args.end(), keyFile.begin(), keyFile.end());
            fs::remove(home / "got.kvd");
            const Outcome got = kvtool(home, args);
            EXPECT_EQ(got.exit, 0) << got.err;
        }
    }
}

// What the window shows after a sync that failed: "offline" only when no
// server was reached; a server that refused says why.
TEST_F(CompanyRegister, TheStateTellsAServerNotReachedFromOneThatRefused) {
    ASSERT_EQ(run({"download", "--port", "sim", "-o", (dir / "a.kvd").string()}).exit, 0);
    ASSERT_TRUE(QSqlQuery(server).exec(QStringLiteral("INSERT INTO schema_version(version) VALUES(99)")));
    const struct {
        const char* name;
        std::string url;
        bool offline;
        const char* reason;
    } rows[] = {{"nothing listens", "postgresql://kelvane@127.0.0.1:1/company", true, "cannot reach"},
                {"a newer schema", url, false, "newer"}};
    kelvane::registry::setKeyFile((dir / "data.key").string());
    kelvane::registry::reloadDataKey();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(run({"register", "sync", "--server", row.url}).exit, 4);
        kelvane::registry::Register reg;
        ASSERT_TRUE(reg.open((dir / "register.sqlite").string())) << reg.error();
        const kelvane::registry::SyncState state = kelvane::registry::syncState(reg);
        EXPECT_EQ(state.offline, row.offline);
        EXPECT_NE(state.lastError.find(row.reason), std::string::npos) << state.lastError;
        EXPECT_EQ(state.waitingVisits, 1);
    }
}

// A sync stopped at any moment (kvtool killed, the server stopped) is
// finished by the next one: equal rows on both sides, none twice. A network
// that stalls ends within its bound.
TEST_F(CompanyRegister, AnInterruptedSyncIsFinishedByTheNextAndAStallEndsInBounds) {
    ASSERT_EQ(run({"download", "--port", "sim", "-o", (dir / "a.kvd").string()}).exit, 0);
    {
        kelvane::registry::setKeyFile((dir / "data.key").string());
        kelvane::registry::reloadDataKey();
        kelvane::registry::Register reg;
        ASSERT_TRUE(reg.open((dir / "register.sqlite").string())) << reg.error();
        Image img = kelvane::initialImage();
        for (int i = 0; i < 3000; ++i) {
            kelvane::registry::NewVisit v;
            v.key = {1, 100 + i % 300};
            img[kelvane::mem::kParams + 22] = static_cast<std::uint8_t>(i);
            if (i % 10 == 0) v.image = img;
            v.port = "bench";
            ASSERT_TRUE(reg.recordVisit(v)) << reg.error();
        }
    }
    const char* ctl = std::getenv("KELVANE_PG_CTL");
    struct Stop {
        const char* name;
        int killAfterMs;  // kvtool killed (-9) this long after its start; 0: once the server holds its first rows
        bool stopServer;  // else the server stopped at once mid-sync
    } const stops[] = {
        {"kvtool killed early", 150, false}, {"kvtool killed mid-push", 0, false}, {"server stopped", -1, true}};
    for (const Stop& s : stops) {
        SCOPED_TRACE(s.name);
        if (s.stopServer) {
            std::thread stopper([ctl] {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                EXPECT_EQ(std::system((std::string(ctl) + " stop -m immediate >/dev/null 2>&1").c_str()), 0);
            });
            run({"register", "sync", "--server", url});
            stopper.join();
            ASSERT_EQ(std::system((std::string(ctl) + " start >/dev/null 2>&1").c_str()), 0);
            server.close();
            ASSERT_TRUE(server.open());
        } else {
            // Mid-push: as soon as the server has the first batch (a sync is
            // too quick now for a fixed time to fall inside it).
            const auto firstRows = [&] {
                const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                QSqlQuery count(server);
                while (std::chrono::steady_clock::now() < end) {
                    if (count.exec(QStringLiteral("SELECT (SELECT count(*) FROM images) + (SELECT count(*) FROM visits)")) &&
                        count.next() && count.value(0).toLongLong() > 0)
                        return;
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            };
            EXPECT_EQ(kvtool(dir, {"register", "sync", "--server", url}, s.killAfterMs, SIGKILL,
                             s.killAfterMs == 0 ? std::function<void()>(firstRows) : std::function<void()>())
                          .exit,
                      128 + SIGKILL);
        }
        const Outcome again = run({"register", "sync", "--server", url});
        ASSERT_EQ(again.exit, 0) << again.err;
        expectEqualEverywhere(dir);
        // The next laptop pulls the same rows.
        ASSERT_EQ(kvtool(laptop2, {"register", "sync", "--server", url}).exit, 0);
        expectEqualEverywhere(laptop2);
        QSqlQuery q(server);
        ASSERT_TRUE(q.exec(QStringLiteral("TRUNCATE controllers, images, visits, saved_files, field_history")));
        for (const fs::path& home : {dir, laptop2}) {
            auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reset"));
            db.setDatabaseName(QString::fromStdString((home / "register.sqlite").string()));
            ASSERT_TRUE(db.open());
            QSqlQuery r(db);
            for (const char* sql : {"UPDATE visits SET pushed = 0", "UPDATE images SET pushed = 0",
                                    "UPDATE saved_files SET pushed = 0", "UPDATE field_history SET pushed = 0",
                                    "UPDATE controllers SET changed = 1", "DELETE FROM settings WHERE key LIKE 'pulled %'"})
                ASSERT_TRUE(r.exec(QString::fromLatin1(sql)));
            r = QSqlQuery();
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("reset"));
        }
    }
    // A proxy that lets the connection start, then stops forwarding.
    const std::string proxy = (dir / "stall.py").string();
    std::ofstream(proxy) << R"(import socket, sys, threading, time
up = int(sys.argv[1]); budget = [int(sys.argv[2])]
srv = socket.socket(); srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1); srv.bind(("127.0.0.1", int(sys.argv[3])))
srv.listen(); print("ready", flush=True)
def pipe(a, b):
    while True:
        d = a.recv(65536)
        if not d: return
        budget[0] -= len(d)
        if budget[0] < 0:
            time.sleep(3600)
        b.sendall(d)
while True:
    c, _ = srv.accept(); s = socket.create_connection(("127.0.0.1", up))
    threading.Thread(target=pipe, args=(c, s), daemon=True).start()
    threading.Thread(target=pipe, args=(s, c), daemon=True).start()
)";
    const std::string line = std::to_string(std::atoi(std::getenv("KELVANE_PG_PORT")) ^ 1);
    ptytest::Child stall({"/usr/bin/python3", proxy, std::getenv("KELVANE_PG_PORT"), "20000", line}, true);
    ASSERT_TRUE(stall.waitForLine("ready", 3000));
    ASSERT_EQ(run({"register", "sync", "--server", url}).exit, 0);  // nothing new to push
    {
        kelvane::registry::Register reg;
        ASSERT_TRUE(reg.open((dir / "register.sqlite").string()));
        kelvane::registry::NewVisit v;
        v.key = {1, 4660};
        for (int i = 0; i < 500; ++i) ASSERT_TRUE(reg.recordVisit(v));
    }
    const Outcome stalled = run({"register", "sync", "--server", "postgresql://kelvane@127.0.0.1:" + line + "/company"});
    EXPECT_EQ(stalled.exit, 4) << stalled.err;
    EXPECT_LT(stalled.seconds, 45.0);
}
