// The register's images at rest: sealed, found by keyed hashes, a plain
// register sealed without leaving a plain page, and a missing, other or
// rotated key never losing an image.
#include "registry/building_register.h"

#include "files/sealing.h"
#include "image/image.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;
using kelvane::DataKey;
using kelvane::Image;
using namespace kelvane::registry;

const ControllerKey kA{7, 1201};

// An image holding known secrets: a 32-byte run no other data has, and the
// decimal texts of codes.
struct Secrets {
    Image image = kelvane::initialImage();
    std::vector<std::string> needles;
    explicit Secrets(std::uint8_t variant) {
        std::string run;
        for (int i = 0; i < 32; ++i) {
            const auto b = static_cast<std::uint8_t>(variant * 37 + i * 101 + 13);
            image[0x100 + static_cast<std::size_t>(i)] = b;
            run.push_back(static_cast<char>(b));
        }
        char hex[3];
        std::string lower, upper;
        for (unsigned char c : run) {
            std::snprintf(hex, sizeof hex, "%02x", c);
            lower += hex;
            std::snprintf(hex, sizeof hex, "%02X", c);
            upper += hex;
        }
        needles = {run, lower, upper, "9173" + std::to_string(variant), "58204" + std::to_string(variant)};
        std::string codes = needles[3] + needles[4];
        std::copy(codes.begin(), codes.end(), image.begin() + 0x200);
    }
};

std::string contents(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The secrets found in the register's files (the file, its WAL and SHM).
std::vector<std::string> leaks(const fs::path& file, const Secrets& s) {
    std::vector<std::string> found;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const std::string bytes = contents(file.string() + suffix);
        for (const auto& needle : s.needles)
            if (bytes.find(needle) != std::string::npos)
                found.push_back(std::string(suffix) + ": " + needle.substr(0, 8));
    }
    return found;
}

class RegisterSealing : public ::testing::Test {
protected:
    void SetUp() override {
        if (!kelvane::sealingAvailable()) GTEST_SKIP() << "built without libsodium";
        dir = fs::temp_directory_path() / ("register_sealing_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        file = dir / "register.sqlite";
    }
    void TearDown() override { fs::remove_all(dir); }
    NewVisit visitOf(const Image& image, const std::string& time) {
        NewVisit v;
        v.key = kA;
        v.image = image;
        v.time = time;
        return v;
    }
    std::optional<Image> latestImage(Register& reg) {
        for (const auto& v : reg.visits(kA))
            if (v.hasImage) return reg.visitImage(kA, v.id);
        return std::nullopt;
    }
    // Slices of the images as a plain register stores them (compressed).
    std::vector<std::string> storedImages() {
        std::vector<std::string> slices;
        {
            auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("stored"));
            db.setDatabaseName(QString::fromStdString(file.string()));
            db.open();
            QSqlQuery q(db);
            q.exec(QStringLiteral("SELECT data FROM images"));
            while (q.next()) slices.push_back(q.value(0).toByteArray().mid(40, 48).toStdString());
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("stored"));
        return slices;
    }
    fs::path dir, file;
    std::optional<DataKey> key = DataKey::generate(), other = DataKey::generate();
};

TEST_F(RegisterSealing, ImagesRoundTripAndNoSecretReachesTheFiles) {
    const Secrets first(1), second(2);
    {
        Register reg;
        reg.setDataKey(key);
        ASSERT_TRUE(reg.open(file.string()));
        EXPECT_TRUE(reg.imagesNote().empty());
        ASSERT_TRUE(reg.recordVisit(visitOf(first.image, "2026-12-01T10:00:00+01:00")));
        const auto rec = reg.recordVisit(visitOf(second.image, "2026-12-02T10:00:00+01:00"));
        ASSERT_TRUE(rec);
        EXPECT_EQ(rec->previousImage, first.image);  // the difference from the first, opened
        ASSERT_TRUE(reg.recordSavedFile((dir / "a.kvd").string(), second.image, kA, first.image));
        EXPECT_EQ(latestImage(reg), second.image);
        EXPECT_EQ(reg.originsOf(second.image).size(), 1u);  // keyed lookups find it
        EXPECT_EQ(reg.baseImageFor(second.image), first.image);
        EXPECT_EQ(leaks(file, first), std::vector<std::string>{});  // open: the WAL holds the writes
        EXPECT_EQ(leaks(file, second), std::vector<std::string>{});
    }
    EXPECT_EQ(leaks(file, second), std::vector<std::string>{});
}

TEST_F(RegisterSealing, APlainRegisterIsSealedWithoutAPlainPageLeft) {
    const Secrets a(3), b(4);
    {
        Register reg;  // an older program's register: plain images, SHA-256
        ASSERT_TRUE(reg.open(file.string(), 2));
        ASSERT_TRUE(reg.recordVisit(visitOf(a.image, "2026-12-01T10:00:00+01:00")));
        ASSERT_TRUE(reg.recordVisit(visitOf(b.image, "2026-12-02T10:00:00+01:00")));
    }
    Secrets stored(0);
    stored.needles = storedImages();
    ASSERT_EQ(stored.needles.size(), 2u);
    ASSERT_FALSE(leaks(file, stored).empty());  // the check sees plain images
    {
        Register reg;  // no key yet: the plain images are still read, none added
        reg.setDataKey(std::nullopt, "no keychain");
        ASSERT_TRUE(reg.open(file.string()));
        EXPECT_NE(reg.imagesNote().find("no keychain"), std::string::npos);
        EXPECT_EQ(latestImage(reg), b.image);
        const auto rec = reg.recordVisit(visitOf(b.image, "2026-12-03T10:00:00+01:00"));
        ASSERT_TRUE(rec);
        EXPECT_FALSE(reg.visits(kA).front().hasImage);
    }
    {
        Register reg;
        reg.setDataKey(key);
        ASSERT_TRUE(reg.open(file.string()));
        EXPECT_TRUE(reg.imagesNote().empty());
        const auto visits = reg.visits(kA);
        ASSERT_EQ(visits.size(), 3u);
        EXPECT_EQ(reg.visitImage(kA, visits[1].id), b.image);
        EXPECT_EQ(reg.visitImage(kA, visits[2].id), a.image);
        EXPECT_EQ(leaks(file, stored), std::vector<std::string>{});
        EXPECT_EQ(fs::file_size(file.string() + "-wal"), 0u);  // checkpointed and truncated
    }
    EXPECT_EQ(leaks(file, stored), std::vector<std::string>{});
}

// Sealed again with a new key, an image gets a new hash: it is pushed to the
// company register again. A row already sealed with the new key (pulled from
// a company register sealed again first) stays as it is.
TEST_F(RegisterSealing, ImagesSealedAgainArePushedAgainAndOnesUnderTheNewKeyStay) {
    const auto rows = [this](const QString& sql) {
        std::vector<std::pair<QByteArray, QByteArray>> out;  // (sha256 and data, pushed)
        {
            auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("rows"));
            db.setDatabaseName(QString::fromStdString(file.string()));
            db.open();
            QSqlQuery q(db);
            q.exec(sql);
            while (q.next())
                out.emplace_back(q.value(0).toByteArray() + q.value(1).toByteArray(), q.value(2).toByteArray());
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("rows"));
        return out;
    };
    const fs::path newer = dir / "newer.sqlite";
    {
        Register reg;  // a register under the new key: the row a pull would bring
        reg.setDataKey(other);
        ASSERT_TRUE(reg.open(newer.string()));
        ASSERT_TRUE(reg.recordVisit(visitOf(Secrets(3).image, "2026-12-01T09:00:00+01:00")));
    }
    {
        Register reg;
        reg.setDataKey(key);
        ASSERT_TRUE(reg.open(file.string()));
        ASSERT_TRUE(reg.recordVisit(visitOf(Secrets(1).image, "2026-12-01T10:00:00+01:00")));
        ASSERT_TRUE(reg.recordVisit(visitOf(Secrets(2).image, "2026-12-01T11:00:00+01:00")));
    }
    {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("pull"));
        db.setDatabaseName(QString::fromStdString(file.string()));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("ATTACH '%1' AS newer").arg(QString::fromStdString(newer.string()))));
        ASSERT_TRUE(q.exec(QStringLiteral("UPDATE images SET pushed = 1")));
        ASSERT_TRUE(
            q.exec(QStringLiteral("INSERT INTO images(sha256, data, pushed) SELECT sha256, data, 1 FROM newer.images")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("pull"));
    const QString query = QStringLiteral("SELECT sha256, data, pushed FROM images ORDER BY id");
    const auto before = rows(query);
    ASSERT_EQ(before.size(), 3u);
    {
        Register reg;
        reg.setDataKey(other, "no keychain", key);
        ASSERT_TRUE(reg.open(file.string()));
        EXPECT_EQ(reg.imagesNote(), "");
        EXPECT_EQ(reg.unreadableImages(), 0);
    }
    const auto after = rows(query);
    ASSERT_EQ(after.size(), 3u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_NE(after[i].first, before[i].first) << "sealed again: " << i;
        EXPECT_EQ(after[i].second, QByteArray("0")) << "to be pushed again: " << i;
    }
    EXPECT_EQ(after[2], before[2]) << "already under the new key";
}

TEST_F(RegisterSealing, AMissingOtherRotatedOrDamagedKeyKeepsEveryImage) {
    const Secrets a(5);
    {
        Register reg;
        reg.setDataKey(key);
        ASSERT_TRUE(reg.open(file.string()));
        ASSERT_TRUE(reg.recordVisit(visitOf(a.image, "2026-12-01T10:00:00+01:00")));
    }
    struct Case {
        const char* what;
        std::optional<DataKey> key, previous;
        bool readable;
    };
    const Case cases[] = {
        {"no key", std::nullopt, std::nullopt, false},
        {"another key", other, std::nullopt, false},
        {"the same key again", key, std::nullopt, true},
        {"rotated: sealed again with the new key", other, key, true},
        {"the old key after the rotation", key, std::nullopt, false},
        {"the new key", other, std::nullopt, true},
    };
    for (const auto& c : cases) {
        Register reg;
        reg.setDataKey(c.key, "no keychain", c.previous);
        ASSERT_TRUE(reg.open(file.string())) << c.what;
        EXPECT_EQ(reg.imagesNote().empty(), c.readable) << c.what;
        EXPECT_EQ(latestImage(reg).has_value(), c.readable) << c.what;
        // A visit recorded meanwhile is kept, with its image only when the
        // key is the register's.
        const auto rec =
            reg.recordVisit(visitOf(a.image, "2026-12-0" + std::to_string(2 + (&c - cases)) + "T10:00:00+01:00"));
        ASSERT_TRUE(rec) << c.what;
        EXPECT_EQ(reg.visits(kA).front().hasImage, c.readable) << c.what;
    }
    EXPECT_EQ(leaks(file, a), std::vector<std::string>{});
    {
        // A damaged ciphertext: reported, kept, the others still read.
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("damage"));
        db.setDatabaseName(QString::fromStdString(file.string()));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(
            q.exec(QStringLiteral("UPDATE images SET data = substr(data, 1, 30) || x'00' || substr(data, 32)"
                                  " WHERE id = (SELECT min(id) FROM images)")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("damage"));
    Register reg;
    reg.setDataKey(other);
    ASSERT_TRUE(reg.open(file.string()));
    const auto visits = reg.visits(kA);
    EXPECT_FALSE(reg.visitImage(kA, visits.back().id));
    EXPECT_EQ(reg.unreadableImages(), 1);
    EXPECT_TRUE(visits.back().hasImage);  // kept
}

}  // namespace
