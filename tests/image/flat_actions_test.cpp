#include "image/codecs.h"
#include "image/configuration_check.h"
#include "image/flat_action_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>

using namespace kelvane;

namespace {

void putResident(Image& img, FlatSlot s, int logical, int open, int main) {
    writeBcdCode(img, residentOffset(ResidentCode::Logical, s.line, s.local), logical);
    writeBcdCode(img, residentOffset(ResidentCode::Open, s.line, s.local), open);
    writeBcdCode(img, residentOffset(ResidentCode::Main, s.line, s.local), main);
}

void putKey(Image& img, int index, int local, std::uint8_t serial) {
    std::uint8_t* rec = &img[mem::kKeys + 8 * index];
    rec[0] = static_cast<std::uint8_t>(local >> 8);
    rec[1] = static_cast<std::uint8_t>(local);
    for (int i = 2; i < 8; ++i) rec[i] = static_cast<std::uint8_t>(serial * 7 + i);
}

std::string keyText(std::uint8_t serial) {
    Image img = erasedImage();
    putKey(img, 0, 1, serial);
    return FormatKeyText(&img[mem::kKeys]);
}

// Flat 1.5 (call 15) with two keys, 2.5 (call 25) with one, 1.7 and 2.7 sharing
// call code 77, general code 3861 at two panels and 1589 (call 15, open 89).
Image building() {
    Image img = initialImage();
    putResident(img, {1, 5}, 15, 4821, 105);
    putResident(img, {2, 5}, 25, 37, 0);
    putResident(img, {1, 7}, 77, 5930, 0);
    putResident(img, {2, 7}, 77, 6042, 0);
    putKey(img, 0, 15, 1);
    putKey(img, 1, 25, 2);
    putKey(img, 2, 15, 3);
    for (int i : {0, 1}) {
        writeBcdCode(img, mem::kGeneralCodes + 2 * i, 3861);
        img[mem::kGeneralAttrs + 2 * i] = static_cast<std::uint8_t>(i + 1);
        img[mem::kGeneralAttrs + 2 * i + 1] = 0;
    }
    writeBcdCode(img, mem::kGeneralCodes + 4, 1589);
    return img;
}

int code(const Image& img, ResidentCode c, FlatSlot s) {
    return DecodeBcdCode(&img[residentOffset(c, s.line, s.local)]);
}

// The change list in short: table initial and + - ~ per row, sorted.
std::string summary(const ChangeList& changes) {
    std::vector<std::string> rows;
    for (const RowChange& r : changes.rows)
        rows.push_back({"KRGD"[static_cast<int>(r.grid)], "+-~"[static_cast<int>(r.kind)], ' '});
    std::sort(rows.begin(), rows.end());
    std::string out;
    for (const std::string& r : rows) out += r;
    return out;
}

std::string keysLeft(const Image& img) {
    std::string out;
    for (std::size_t i = 0; i < mem::kKeyCount && img[mem::kKeys + 8 * i] != 0xFF; ++i)
        out += std::to_string(img[mem::kKeys + 8 * i + 1]) + (img[mem::kKeys + 8 * i + 2] == 2 * 7 + 2 ? "b " : " ");
    return out;
}

std::optional<std::uint32_t> failing(std::uint32_t) { return std::nullopt; }

}  // namespace

TEST(FlatActions, EachActionChangesWhatItNamesAndTheChangeListSaysSo) {
    const Image before = building();
    const FlatSlot flat{1, 5};
    constexpr int kNew = -2;  // a drawn code: new, storable, not easy to guess
    const struct {
        const char* name;
        std::function<FlatActionResult(const Image&)> act;
        FlatRefusal refusal;
        int open, main;  // flat 1.5 afterwards (-1 none)
        const char* keys;
        const char* changes;
    } cases[] = {
        {"moved out", [&](const Image& i) { return movedOut(i, flat); }, FlatRefusal::None, -1, -1, "25b ", "K- K- R~ "},
        {"moved out of an empty slot",
         [](const Image& i) {
             return movedOut(i, {1, 9});
         },
         FlatRefusal::NoSuchFlat, 4821, 105, "15 25b 15 ", ""},
        {"moved out of a shared call code",
         [](const Image& i) {
             return movedOut(i, {2, 7});
         },
         FlatRefusal::SharedCallCode, 4821, 105, "15 25b 15 ", ""},
        {"new resident", [&](const Image& i) { return newResident(i, flat, {}); }, FlatRefusal::None, kNew, 105,
         "15 25b 15 ", "R~ "},
        {"new resident and main code",
         [&](const Image& i) {
             return newResident(i, flat, {true, std::nullopt, std::nullopt});
         },
         FlatRefusal::None, kNew, kNew, "15 25b 15 ", "R~ "},
        {"new resident with typed codes",
         [&](const Image& i) {
             return newResident(i, flat, {false, 7, 9999});
         },
         FlatRefusal::None, 7, 9999, "15 25b 15 ", "R~ "},
        {"typed code the controller cannot store",
         [&](const Image& i) {
             return newResident(i, flat, {false, 10000, std::nullopt});
         },
         FlatRefusal::BadCode, 4821, 105, "15 25b 15 ", ""},
        {"new resident, no random", [&](const Image& i) { return newResident(i, flat, {}, failing); },
         FlatRefusal::RandomFailed, 4821, 105, "15 25b 15 ", ""},
        {"lost key", [](const Image& i) { return lostKey(i, keyText(2)); }, FlatRefusal::None, 4821, 105, "15 15 ", "K- "},
        {"lost key without blanks, lower case, a new one typed",
         [](const Image& i) {
             std::string t;
             for (char c : keyText(1)) t += c == ' ' ? "" : std::string(1, static_cast<char>(std::tolower(c)));
             return lostKey(i, t, keyText(9));
         },
         FlatRefusal::None, 4821, 105, "25b 15 15 ", "K+ K- "},
        {"lost key unknown", [](const Image& i) { return lostKey(i, keyText(8)); }, FlatRefusal::NoSuchKey, 4821, 105,
         "15 25b 15 ", ""},
        {"lost key with a wrong check byte", [](const Image& i) { return lostKey(i, "00" + keyText(1).substr(2)); },
         FlatRefusal::BadKeyText, 4821, 105, "15 25b 15 ", ""},
        {"new key already stored", [](const Image& i) { return lostKey(i, keyText(1), keyText(3)); },
         FlatRefusal::KeyInUse, 4821, 105, "15 25b 15 ", ""},
        {"new general code at both panels", [](const Image& i) { return newGeneralCode(i, 3861); }, FlatRefusal::None,
         4821, 105, "15 25b 15 ", "G+ G+ G- G- "},
        {"general code unknown", [](const Image& i) { return newGeneralCode(i, 3862); }, FlatRefusal::NoSuchGeneralCode,
         4821, 105, "15 25b 15 ", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FlatActionResult r = c.act(before);
        EXPECT_EQ(r.refusal, c.refusal);
        if (c.refusal != FlatRefusal::None) {
            EXPECT_EQ(r.image, before);
        }
        EXPECT_EQ(code(r.image, ResidentCode::Logical, flat), 15);
        for (const auto& [kind, want, got] :
             {std::tuple{CodeKind::Open, c.open, r.codes.open}, std::tuple{CodeKind::Main, c.main, r.codes.main}}) {
            const int now = code(r.image, kind == CodeKind::Open ? ResidentCode::Open : ResidentCode::Main, flat);
            if (want == kNew) {
                EXPECT_EQ(judgeNewCode(before, kind, flat, now), CodeFault::None) << now;
                EXPECT_EQ(got, now);
            } else {
                EXPECT_EQ(now, want);
            }
        }
        EXPECT_EQ(keysLeft(r.image), c.keys);
        EXPECT_EQ(summary(r.changes), c.changes);
        EXPECT_EQ(r.changes.empty(), c.refusal != FlatRefusal::None);
    }
}

TEST(FlatActions, ANewCodeIsJudgedByTheConfigurationChecksRules) {
    const Image img = building();
    const struct {
        CodeKind kind;
        int code;
        CodeFault fault;
    } cases[] = {
        {CodeKind::Open, 0, CodeFault::OutOfRange},
        {CodeKind::Open, 10000, CodeFault::OutOfRange},
        {CodeKind::Open, 123, CodeFault::Guessable},
        {CodeKind::Open, 4321, CodeFault::Guessable},
        {CodeKind::Open, 37, CodeFault::InUse},
        {CodeKind::Open, 77, CodeFault::InUse},
        {CodeKind::Open, 4821, CodeFault::InUse},
        {CodeKind::Open, 89, CodeFault::CallAndOpen},
        {CodeKind::Open, 90, CodeFault::None},
        {CodeKind::Main, 999, CodeFault::OutOfRange},
        {CodeKind::Main, 1589, CodeFault::InUse},
        {CodeKind::Main, 1590, CodeFault::None},
        {CodeKind::General, 2537, CodeFault::CallAndOpen},
        {CodeKind::General, 2222, CodeFault::Guessable},
        {CodeKind::General, 3861, CodeFault::InUse},
        {CodeKind::General, 3862, CodeFault::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(judgeNewCode(img, c.kind, {1, 5}, c.code), c.fault) << static_cast<int>(c.kind) << " " << c.code;
}

// The generator's promise, checked by the configuration check itself: every
// draw is a code no one in the building has, within the controller's rules,
// and the check finds nothing to say about it once it is stored.
TEST(FlatActions, TenThousandDrawnCodesAreNewStorableAndNeverFlagged) {
    Image img = initialImage();
    const char pw[] = "20571938";
    for (int i = 0; i < 8; ++i) img[mem::kParams + i] = static_cast<std::uint8_t>(pw[i] - '0');
    // A full building: call codes 1..510, traps for call code + open code.
    for (int i = 0; i < 510; ++i) putResident(img, {i / 255 + 1, i % 255 + 1}, i + 1, 0, 0);
    for (int i = 0; i < 64; ++i) writeBcdCode(img, mem::kGeneralCodes + 2 * i, 1000 + 131 * i);
    for (const Warning& w : checkConfiguration(img)) ASSERT_EQ(severityOf(w.kind), Severity::Info);
    for (int draw = 0; draw < 10000; ++draw) {
        const CodeKind kind = static_cast<CodeKind>(draw % 3);
        const FlatSlot slot{draw % 2 + 1, draw % 255 + 1};
        const CodeDraw d = drawCode(img, kind, slot);
        ASSERT_EQ(d.fault, DrawFault::None);
        ASSERT_GE(d.code, kind == CodeKind::Open ? 1 : 1000);
        ASSERT_LE(d.code, 9999);
        for (std::size_t off = 0x2000; off < mem::kKeys; off += 2)
            ASSERT_NE(DecodeBcdCode(&img[off]), d.code) << "already in the building at " << off;
        if (kind == CodeKind::General)
            writeBcdCode(img, mem::kGeneralCodes + 2 * (draw % 64), d.code);
        else
            writeBcdCode(
                img,
                residentOffset(kind == CodeKind::Open ? ResidentCode::Open : ResidentCode::Main, slot.line, slot.local),
                d.code);
        // A code stays until its slot or entry comes round again, hundreds of
        // draws later, so checking every tenth draw sees every code.
        if (draw % 10 != 9) continue;
        for (const Warning& w : checkConfiguration(img))
            ASSERT_EQ(severityOf(w.kind), Severity::Info) << warningKindId(w.kind) << " after drawing " << d.code;
    }
}

// The window's grid cell and kvtool's argument name what an action acts on
// by one rule, read from the table's row.
TEST(FlatActionTable, OneRuleReadsWhatTheWindowsCellAndTheToolsArgumentName) {
    const Image img = building();
    const struct {
        FlatAction action;
        const char* named;
        FlatRefusal refusal;
    } cases[] = {
        {FlatAction::GeneralCode, " 3861 ", FlatRefusal::None},
        {FlatAction::GeneralCode, "0", FlatRefusal::NoSuchGeneralCode},
        {FlatAction::GeneralCode, "", FlatRefusal::BadCode},
        {FlatAction::GeneralCode, "38a1", FlatRefusal::BadCode},
        {FlatAction::GeneralCode, "38610", FlatRefusal::BadCode},
        {FlatAction::MovedOut, "2.5", FlatRefusal::None},
        {FlatAction::MovedOut, "3.1", FlatRefusal::NoSuchFlat},
        {FlatAction::NewResident, "", FlatRefusal::NoSuchFlat},
        {FlatAction::LostKey, "not a key", FlatRefusal::BadKeyText},
    };
    for (const auto& c : cases) {
        const FlatActionResult r = runFlatAction(img, c.action, c.named, {});
        EXPECT_EQ(r.refusal, c.refusal) << flatActionRow(c.action).word << " " << c.named;
        if (c.refusal != FlatRefusal::None) {
            EXPECT_EQ(r.image, img);
        }
    }
    for (const FlatActionRow& row : flatActions()) EXPECT_EQ(findFlatAction(row.word), &row);
}
