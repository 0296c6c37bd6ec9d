// A read's visit as KelvaneMini and kvtool both record it, against a
// register in a temporary folder, with and without the data key.
#include "jobs/read_visit.h"

#include "registry/key_store.h"
#include "texts/language_table.h"
#include "texts/visit_texts.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace kelvane;
using jobs::ImagesLeftOut;
using jobs::Recording;
using registry::VisitKind;

registry::KeyState keyState(const std::optional<DataKey>& key, KeyMissing missing = KeyMissing::None) {
    registry::KeyState s;
    s.key = key;
    s.missing = missing;
    s.why = key ? "" : "switched off";
    return s;
}

TEST(ReadVisit, EachProgramRecordsTheSameVisitAndSaysWhyWhenItCannot) {
    if (!registry::Register::available() || !DataKey::generate())
        GTEST_SKIP() << "a build without the register or sealing";
    const DataKey mine = *DataKey::generate(), other = *DataKey::generate();
    const link::ProbeReply probe{1, 4660, 259};
    Image first = initialImage(), second = initialImage();
    second[0x100] = 0x12;

    // Each case: the register sealed with `sealedWith` (nothing: none is
    // opened), reads recorded in turn with the process's key `key`; what
    // the last read gives and the visits the register then holds.
    const struct Case {
        const char* name;
        std::optional<DataKey> sealedWith, key;
        KeyMissing missing;
        bool identity;
        std::vector<std::optional<Image>> reads;
        Recording recording;
        ImagesLeftOut images;
        bool since;  // the read differs from the controller's previous image
        int visits, withImage;
    } cases[] = {
        {"no probe answer", mine, mine, KeyMissing::None, false, {first}, Recording::NoIdentity, ImagesLeftOut::No, false, 0, 0},
        {"no register", std::nullopt, mine, KeyMissing::None, true, {first}, Recording::Failed, ImagesLeftOut::No, false, 0, 0},
        {"first read", mine, mine, KeyMissing::None, true, {first}, Recording::Recorded, ImagesLeftOut::No, false, 1, 1},
        {"read again, same", mine, mine, KeyMissing::None, true, {first, first}, Recording::Recorded, ImagesLeftOut::No, false, 2, 2},
        {"read again, changed", mine, mine, KeyMissing::None, true, {first, second}, Recording::Recorded, ImagesLeftOut::No, true, 2, 2},
        {"read failed", mine, mine, KeyMissing::None, true, {std::nullopt}, Recording::Recorded, ImagesLeftOut::No, false, 1, 0},
        {"no key", mine, std::nullopt, KeyMissing::KeychainOff, true, {first}, Recording::Recorded, ImagesLeftOut::NoKey, false, 1, 0},
        {"another key", mine, other, KeyMissing::None, true, {first}, Recording::Recorded, ImagesLeftOut::OtherKey, false, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const std::string path = dir.filePath(QStringLiteral("register.sqlite")).toStdString();
        if (c.sealedWith) {
            registry::setDataKey(keyState(c.sealedWith));
            registry::Register seal;
            ASSERT_TRUE(seal.open(path)) << seal.error();
        }
        registry::setDataKey(keyState(c.key, c.missing));
        registry::Register reg;
        const bool opened = c.sealedWith && reg.open(path);
        jobs::VisitRecord r;
        for (const auto& image : c.reads) {
            jobs::ReadVisit visit;
            if (c.identity) visit.identity = probe;
            visit.port = "COM3";
            visit.outcome = image ? "completed" : "no answer";
            visit.image = image;
            r = jobs::recordRead(opened ? &reg : nullptr, "locked", visit);
        }
        EXPECT_EQ(r.recording, c.recording);
        EXPECT_EQ(r.images, c.images);
        EXPECT_EQ(r.since.has_value(), c.since);
        if (r.since) {
            EXPECT_GT(r.since->changes, 0);
        }
        if (r.since) {
            EXPECT_EQ(r.since->before, first);
        }
        if (c.recording == Recording::Failed) {
            EXPECT_EQ(r.recordError, "locked");
        }
        if (c.images == ImagesLeftOut::NoKey) {
            EXPECT_EQ(r.key.missing, c.missing);
        }
        // Every note reads in both languages.
        for (int language : {texts::kPolish, texts::kEnglish}) {
            EXPECT_EQ(texts::notRecordedText(r, language).empty(), c.recording == Recording::Recorded);
            EXPECT_EQ(texts::imagesLeftOutText(r.images, r.key, language).empty(), c.images == ImagesLeftOut::No);
        }
        if (!opened) continue;
        const auto visits = reg.visits({1, 4660});
        ASSERT_EQ(static_cast<int>(visits.size()), c.visits);
        int withImage = 0;
        for (const auto& v : visits) {
            withImage += v.hasImage;
            EXPECT_EQ(v.kind, VisitKind::Download);
            EXPECT_EQ(v.port, "COM3");
            EXPECT_EQ(v.firmware.value_or(0), 259);
            EXPECT_EQ(v.outcome, v.hasImage || c.images != ImagesLeftOut::No ? "completed" : "no answer");
        }
        EXPECT_EQ(withImage, c.withImage);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // A key of this run only: the user's keychain is never reached.
    kelvane::registry::setDataKey(keyState(kelvane::DataKey::generate(), kelvane::KeyMissing::CannotSeal));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
