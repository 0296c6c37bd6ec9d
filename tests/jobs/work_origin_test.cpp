// What a run knows of the controller and of its working image, in the
// orders a technician works in; the saved file's note against a register in
// a temporary folder.
#include "jobs/upload_flow.h"
#include "jobs/work_origin.h"

#include "registry/key_store.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace kelvane;
using jobs::Origin;
using registry::ControllerKey;

constexpr ControllerKey kA{1, 4660}, kB{2, 12345};

Image imageWith(int marker) {
    Image image = initialImage();
    image[0x100] = static_cast<std::uint8_t>(marker);
    return image;
}

TEST(WorkOrigin, PortsCompareWithoutTheDeviceNamespace) {
    const struct {
        const char* port;
        const char* key;
    } cases[] = {
        {"\\\\.\\COM3", "COM3"},          {"COM3", "COM3"},           {"\\\\.\\COM12", "COM12"},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"}, {"Symulator", "Symulator"}, {"\\\\COM3", "\\\\COM3"},
    };
    for (const auto& c : cases) EXPECT_EQ(jobs::portKey(c.port), c.key) << c.port;
}

TEST(WorkOrigin, WhatTheRunKnowsFollowsItsTransfersFilesAndVisits) {
    const Image read = imageWith(1), file = imageWith(2), visit = imageWith(3), fileBase = imageWith(4);
    enum class Event { Transfer, TransferUnanswered, CutOff, LoadFile, OpenVisit };
    enum class BaseIs { None, Read, FileBase, Visit };
    // Each case: the run's events (on port `at`, controller A), then the
    // upload on port `port` to `connected`: whether what was read stands
    // for what it holds, whether its upload was cut off, the origin, the
    // base, and the controller a file saved now is noted with.
    const struct Case {
        const char* name;
        std::vector<Event> events;
        const char* at;
        const char* port;
        std::optional<ControllerKey> connected;
        bool holds, cutOff;
        Origin::Kind origin;
        BaseIs base;
        std::optional<ControllerKey> savedWith;
    } cases[] = {
        {"download, same controller and port",
         {Event::Transfer},
         "COM3",
         "COM3",
         kA,
         true,
         false,
         Origin::Kind::Download,
         BaseIs::Read,
         kA},
        {"the port in another form", {Event::Transfer}, "\\\\.\\COM3", "COM3", kA, true, false, Origin::Kind::Download, BaseIs::Read, kA},
        {"another controller on the port", {Event::Transfer}, "COM3", "COM3", kB, false, false, Origin::Kind::Download, BaseIs::Read, kA},
        {"another port", {Event::Transfer}, "COM3", "COM4", kA, false, false, Origin::Kind::Download, BaseIs::Read, kA},
        {"nothing answers the upload's probe",
         {Event::Transfer},
         "COM3",
         "COM3",
         std::nullopt,
         false,
         false,
         Origin::Kind::Download,
         BaseIs::Read,
         kA},
        {"no probe answer before the transfer",
         {Event::TransferUnanswered},
         "COM3",
         "COM3",
         kA,
         false,
         false,
         Origin::Kind::None,
         BaseIs::Read,
         std::nullopt},
        {"upload cut off",
         {Event::Transfer, Event::CutOff},
         "\\\\.\\COM3",
         "COM3",
         kA,
         false,
         true,
         Origin::Kind::Download,
         BaseIs::Read,
         kA},
        {"cut off, another controller now",
         {Event::Transfer, Event::CutOff},
         "COM3",
         "COM3",
         kB,
         false,
         false,
         Origin::Kind::Download,
         BaseIs::Read,
         kA},
        {"cut off, then a transfer",
         {Event::Transfer, Event::CutOff, Event::Transfer},
         "COM3",
         "COM3",
         kA,
         true,
         false,
         Origin::Kind::Download,
         BaseIs::Read,
         kA},
        {"a file loaded after a download",
         {Event::Transfer, Event::LoadFile},
         "COM3",
         "COM3",
         kA,
         true,
         false,
         Origin::Kind::File,
         BaseIs::FileBase,
         std::nullopt},
        {"a visit opened", {Event::OpenVisit}, "COM3", "COM3", kA, false, false, Origin::Kind::Visit, BaseIs::Visit, kA},
        {"a download after a visit",
         {Event::OpenVisit, Event::Transfer},
         "COM3",
         "COM3",
         kA,
         true,
         false,
         Origin::Kind::Download,
         BaseIs::Read,
         kA},
        {"nothing yet", {}, "COM3", "COM3", kA, false, false, Origin::Kind::None, BaseIs::None, std::nullopt},
    };
    const jobs::BaseLookup lookup = [&](const Image& loaded) -> std::optional<jobs::Base> {
        if (loaded != file) return std::nullopt;
        return jobs::Base{fileBase, "2026-11-03T10:15:00", "Jan K."};
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        jobs::WorkOrigin work;
        for (Event e : c.events) {
            switch (e) {
            case Event::Transfer: work.transferred(c.at, kA, read, "2026-12-08T20:30:15Z"); break;
            case Event::TransferUnanswered:
                work.transferred(c.at, registry::kUnknownController, read, "2026-12-08T20:30:15Z");
                break;
            case Event::CutOff: work.cutOff(c.at, kA); break;
            case Event::LoadFile: work.fileLoaded(file); break;
            case Event::OpenVisit: work.visitOpened(kA, visit, "2026-11-20T09:00:00Z", "Ola P."); break;
            }
        }
        EXPECT_EQ(work.holds(c.port, c.connected), c.holds);
        EXPECT_EQ(work.cutOffAt(c.port, c.connected), c.cutOff);
        EXPECT_EQ(work.origin().kind, c.origin);
        EXPECT_EQ(work.transferredInRun(), std::any_of(c.events.begin(), c.events.end(), [](Event e) {
                      return e == Event::Transfer || e == Event::TransferUnanswered;
                  }));
        const auto base = work.base(lookup);
        const Image* wanted = c.base == BaseIs::Read       ? &read
                              : c.base == BaseIs::FileBase ? &fileBase
                              : c.base == BaseIs::Visit    ? &visit
                                                           : nullptr;
        ASSERT_EQ(base.has_value(), wanted != nullptr);
        if (base) {
            EXPECT_EQ(base->image, *wanted);
        }
        if (c.base == BaseIs::Visit) {
            EXPECT_EQ(base->technician, "Ola P.");
        }

        // The upload starts from the same knowledge: held only on its port,
        // a file's base given, the port recorded in one form.
        jobs::UploadInput in;
        work.startUpload(in, c.port, lookup);
        EXPECT_EQ(in.origin.kind, c.origin);
        EXPECT_EQ(in.held.has_value(), work.heldOn(c.port).has_value());
        if (c.holds) {
            EXPECT_TRUE(in.held && in.held->image == read);
        }
        EXPECT_EQ(in.base.has_value(), c.origin == Origin::Kind::File);
        EXPECT_EQ(in.port, jobs::portKey(c.port));

        const jobs::SavedFrom saved = work.savedFrom(lookup);
        EXPECT_EQ(saved.controller.has_value() && saved.controller->known(), c.savedWith.has_value());
        if (c.savedWith) {
            EXPECT_EQ(*saved.controller, *c.savedWith);
        }
        EXPECT_EQ(saved.madeFrom.empty(), c.origin != Origin::Kind::File);
        EXPECT_EQ(saved.base.has_value(), wanted != nullptr);
    }
}

registry::KeyState withKey(const DataKey& key) {
    registry::KeyState s;
    s.key = key;
    return s;
}

// The register as a colleague's visits left it: `shared` read from A and
// from B, `onlyB` from B; `unknown` never seen.
struct Office {
    QTemporaryDir dir;
    registry::Register reg;
    Image shared = imageWith(10), onlyB = imageWith(11), unknown = imageWith(12);
    bool open() {
        if (!reg.open(dir.filePath(QStringLiteral("register.sqlite")).toStdString())) return false;
        for (const auto& [key, image] : {std::pair{kA, shared}, std::pair{kB, shared}, std::pair{kB, onlyB}}) {
            registry::NewVisit v;
            v.key = key;
            v.image = image;
            v.port = "COM3";
            if (!reg.recordVisit(v)) return false;
        }
        return true;
    }
    std::vector<ControllerKey> origins(const Image& image) {
        std::vector<ControllerKey> out;
        for (const auto& c : reg.originsOf(image)) out.push_back(c.key);
        std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.deviceId < b.deviceId; });
        return out;
    }
};

TEST(SavedFile, TheFileKeepsEveryControllerItsImageCameFromAndItsBase) {
    if (!registry::Register::available() || !DataKey::generate())
        GTEST_SKIP() << "a build without the register or sealing";
    registry::setDataKey(withKey(*DataKey::generate()));
    Office office;
    ASSERT_TRUE(office.open()) << office.reg.error();
    const Image given = imageWith(20);
    enum class From { Shared, OnlyB, Unknown, Given };
    // Each case: what the file was made from; the controllers and the base
    // the register then gives for the saved image.
    const struct Case {
        const char* name;
        std::optional<ControllerKey> controller;
        std::vector<From> madeFrom;
        bool baseGiven;
        std::vector<ControllerKey> origins;
        std::optional<From> base;
    } cases[] = {
        {"read from A in this run", kA, {}, true, {kA}, From::Given},
        {"the controller named wins over the images", kA, {From::OnlyB}, true, {kA}, From::Given},
        {"an image both read", std::nullopt, {From::Shared}, false, {kA, kB}, From::Shared},
        {"an unknown controller counts as none", registry::kUnknownController, {From::Shared}, false, {kA, kB}, From::Shared},
        {"the first image the register knows", std::nullopt, {From::Unknown, From::OnlyB, From::Shared}, false, {kB}, From::OnlyB},
        {"nothing known: noted without a controller", std::nullopt, {From::Unknown}, true, {}, From::Given},
        {"nothing known, no base", std::nullopt, {From::Unknown}, false, {}, std::nullopt},
    };
    const auto image = [&](From f) {
        switch (f) {
        case From::Shared: return office.shared;
        case From::OnlyB: return office.onlyB;
        case From::Unknown: return office.unknown;
        case From::Given: return given;
        }
        return given;
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Image saved = imageWith(100 + row++);
        jobs::SavedFrom from;
        from.controller = c.controller;
        for (From f : c.madeFrom) from.madeFrom.push_back(image(f));
        if (c.baseGiven) from.base = given;
        const std::string path = office.dir.filePath(QStringLiteral("f%1.kvd").arg(row)).toStdString();
        EXPECT_EQ(jobs::recordSavedFile(office.reg, path, saved, from), "");
        EXPECT_EQ(office.origins(saved), c.origins);
        const auto base = office.reg.baseImageFor(saved);
        ASSERT_EQ(base.has_value(), c.base.has_value());
        if (base) {
            EXPECT_EQ(*base, image(*c.base));
        }
    }
}

// A file loaded before a colleague's visit reached the register: its base
// is the register's when the upload or the save asks, not when it was loaded.
TEST(SavedFile, AFilesBaseIsLookedUpWhenAsked) {
    if (!registry::Register::available() || !DataKey::generate())
        GTEST_SKIP() << "a build without the register or sealing";
    registry::setDataKey(withKey(*DataKey::generate()));
    Office office;
    ASSERT_TRUE(office.open()) << office.reg.error();
    const Image file = imageWith(30);
    jobs::WorkOrigin work;
    work.fileLoaded(file);
    const jobs::BaseLookup lookup = [&](const Image& f) { return jobs::registeredBase(&office.reg, f); };
    EXPECT_FALSE(work.base(lookup));
    const std::string path = office.dir.filePath(QStringLiteral("colleague.kvd")).toStdString();
    ASSERT_EQ(jobs::recordSavedFile(office.reg, path, file, {kB, {}, office.onlyB}), "");
    const auto base = work.base(lookup);
    ASSERT_TRUE(base);
    EXPECT_EQ(base->image, office.onlyB);
    jobs::UploadInput in;
    work.startUpload(in, "COM3", lookup);
    ASSERT_TRUE(in.base);
    EXPECT_EQ(in.base->image, office.onlyB);
}

}  // namespace
