#include "image/merge.h"

#include "image/codecs.h"
#include "sim/sample_building.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <set>

using namespace kelvane;

namespace {

using Edit = std::function<void(Image&)>;

std::size_t param(const char* control) { return findParameter(control)->offset; }

std::size_t keyAt(int index) { return mem::kKeys + 8 * static_cast<std::size_t>(index); }

void putKey(Image& img, int index, int local, std::uint8_t serial) {
    std::uint8_t* rec = &img[keyAt(index)];
    rec[0] = static_cast<std::uint8_t>(local >> 8);
    rec[1] = static_cast<std::uint8_t>(local);
    for (int i = 2; i < 8; ++i) rec[i] = static_cast<std::uint8_t>(serial + i);
}

void putResident(Image& img, int line, int local, int logical, int open, int main) {
    writeBcdCode(img, residentOffset(ResidentCode::Logical, line, local), logical);
    writeBcdCode(img, residentOffset(ResidentCode::Open, line, local), open);
    writeBcdCode(img, residentOffset(ResidentCode::Main, line, local), main);
}

void putGeneral(Image& img, int index, int code, std::uint8_t panel, std::uint8_t bus) {
    writeBcdCode(img, mem::kGeneralCodes + 2 * static_cast<std::size_t>(index), code);
    img[mem::kGeneralAttrs + 2 * static_cast<std::size_t>(index)] = panel;
    img[mem::kGeneralAttrs + 2 * static_cast<std::size_t>(index) + 1] = bus;
}

void putDigitizer(Image& img, int index, int number, int line, int local, int button) {
    img[mem::kDigitNumbers + static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(number);
    img[mem::kDigitAssigns + 2 * static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(button * 2 + line - 1);
    img[mem::kDigitAssigns + 2 * static_cast<std::size_t>(index) + 1] = static_cast<std::uint8_t>(local);
}

// The 8-byte records of the sample's keys with one taken out, repacked.
void dropKey(Image& img, int index) {
    std::copy(img.begin() + static_cast<std::ptrdiff_t>(keyAt(index + 1)),
              img.begin() + static_cast<std::ptrdiff_t>(keyAt(512)),
              img.begin() + static_cast<std::ptrdiff_t>(keyAt(index)));
    std::fill_n(img.begin() + static_cast<std::ptrdiff_t>(keyAt(511)), 8, 0xFF);
}

ImageVersion version(const Image& img, const std::string& description = "Klatka A") { return {img, description}; }

Image applied(Edit edit) {
    Image img = sampleBuildingImage();
    if (edit) edit(img);
    return img;
}

}  // namespace

// Each case makes one kind of edit on either side of the sample building and
// names the items it expects; a non-conflict merge must give the side that
// changed, a conflict the side chosen.
TEST(Merge, EveryItemKindOnEitherSide) {
    const Edit p001a = [](Image& i) { writeLE16(i, param("p001_UpDown"), 3200); };
    const Edit p001b = [](Image& i) { writeLE16(i, param("p001_UpDown"), 3300); };
    const Edit open15 = [](Image& i) { writeBcdCode(i, residentOffset(ResidentCode::Open, 1, 5), 4321); };
    const Edit open15b = [](Image& i) { writeBcdCode(i, residentOffset(ResidentCode::Open, 1, 5), 1111); };
    const Edit drop15 = [](Image& i) { putResident(i, 1, 5, 0, 0, 0); };
    const Edit key0ToFlat9 = [](Image& i) { i[keyAt(0) + 1] = 9; };
    const Edit key0ToFlat7 = [](Image& i) { i[keyAt(0) + 1] = 7; };
    const Edit freeByte = [](Image& i) { i[0x0100] = 0x12; };
    const Edit freeByteB = [](Image& i) { i[0x0100] = 0x34; };
    struct Case {
        const char* name;
        Edit file, controller;
        std::vector<std::pair<MergeItemKind, MergeState>> items;
        std::string fileDescription = "Klatka A";
    };
    using K = MergeItemKind;
    using S = MergeState;
    const Case cases[] = {
        {"setting only in the file", p001a, nullptr, {{K::Setting, S::Sent}}},
        {"setting only at the controller", nullptr, p001a, {{K::Setting, S::Kept}}},
        {"setting alike on both", p001a, p001a, {{K::Setting, S::Same}}},
        {"setting differently on both", p001a, p001b, {{K::Setting, S::Conflict}}},
        {"p714 boxes are separate settings",
         [](Image& i) { i[param("p714_1_CheckBox")] |= 1; },
         [](Image& i) { i[param("p714_1_CheckBox")] |= 4; },
         {{K::Setting, S::Sent}, {K::Setting, S::Kept}}},
        {"resident code only in the file", open15, nullptr, {{K::Row, S::Sent}}},
        {"resident code only at the controller", nullptr, open15, {{K::Row, S::Kept}}},
        {"resident code differently on both", open15, open15b, {{K::Row, S::Conflict}}},
        {"resident deleted in the file, changed at the controller", drop15, open15, {{K::Row, S::Conflict}}},
        {"resident re-numbered in the file",
         [drop15](Image& i) {
             drop15(i);
             putResident(i, 1, 200, 5, 4321, 105);
         },
         nullptr,
         {{K::Row, S::Sent}, {K::Row, S::Sent}}},
        {"key moved to another flat at the controller", nullptr, key0ToFlat9, {{K::Row, S::Kept}}},
        {"key moved to different flats", key0ToFlat9, key0ToFlat7, {{K::Row, S::Conflict}}},
        {"key deleted at the controller, moved in the file",
         key0ToFlat9,
         [](Image& i) { dropKey(i, 0); },
         {{K::Row, S::Conflict}}},
        {"key added alike on both",
         [](Image& i) { putKey(i, 32, 30, 0x40); },
         [](Image& i) { putKey(i, 32, 30, 0x40); },
         {{K::Row, S::Same}}},
        {"general code's panel at the controller", nullptr, [](Image& i) { putGeneral(i, 2, 9753, 3, 0); }, {{K::Row, S::Kept}}},
        {"digitizer's flat at the controller", nullptr, [](Image& i) { putDigitizer(i, 0, 4, 2, 30, 1); }, {{K::Row, S::Kept}}},
        {"digitizer added in the file, another's flat at the controller",
         [](Image& i) { putDigitizer(i, 8, 8, 1, 9, 23); },
         [](Image& i) { putDigitizer(i, 1, 4, 2, 30, 2); },
         {{K::Row, S::Kept}, {K::Row, S::Sent}}},
        {"description only in the file", nullptr, nullptr, {{K::Description, S::Sent}}, "Klatka B"},
        {"free bytes only at the controller", nullptr, freeByte, {{K::Bytes, S::Kept}}},
        {"free bytes differently on both", freeByte, freeByteB, {{K::Bytes, S::Conflict}}},
        {"free bytes of the last block", [](Image& i) { i[kImageSize - 1] = 0x12; }, nullptr, {{K::Bytes, S::Sent}}},
        {"hidden values only in the file", [](Image& i) { i[mem::kHiddenWords] ^= 1; }, nullptr, {{K::Bytes, S::Sent}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ImageVersion file = version(applied(c.file), c.fileDescription), controller = version(applied(c.controller));
        const ThreeWayMerge m = mergeVersions(version(sampleBuildingImage()), file, controller);
        ASSERT_EQ(m.items.size(), c.items.size());
        for (std::size_t i = 0; i < c.items.size(); ++i) {
            EXPECT_EQ(m.items[i].kind, c.items[i].first) << i;
            EXPECT_EQ(m.items[i].state, c.items[i].second) << i;
        }
        const bool conflict = m.count(S::Conflict) > 0;
        EXPECT_EQ(resolveMerge(m, {}).complete(), !conflict);
        const MergedVersion toFile = resolveMerge(m, chooseAll(m, MergeChoice::File));
        const MergedVersion toController = resolveMerge(m, chooseAll(m, MergeChoice::Controller));
        ASSERT_TRUE(toFile.complete() && toController.complete());
        if (conflict) {
            EXPECT_EQ(toFile.version.image, file.image);
            EXPECT_EQ(toController.version.image, controller.image);
        } else {
            // Both sides' edits applied, whoever made them.
            EXPECT_EQ(toFile.version.image, applied([&c](Image& i) {
                          if (c.file) c.file(i);
                          if (c.controller) c.controller(i);
                      }));
            EXPECT_EQ(toFile.version.description, file.description);
        }
    }
}

TEST(Merge, RowItemsShowTheCellsOfEachSide) {
    const Image base = sampleBuildingImage();
    Image file = base, controller = base;
    putResident(file, 1, 5, 0, 0, 0);
    writeBcdCode(controller, residentOffset(ResidentCode::Open, 1, 5), 42);
    const ThreeWayMerge m = mergeVersions(version(base), version(file), version(controller));
    ASSERT_EQ(m.items.size(), 1u);
    const MergeItem& item = m.items[0];
    EXPECT_EQ(item.grid, GridId::Residents);
    EXPECT_FALSE(item.value[kFileSide].present);
    EXPECT_TRUE(item.value[kFileSide].cells.empty());
    EXPECT_EQ(item.value[kControllerSide].cells, (Grid::Row{"1.5", "5", "0042", "105"}));
}

// Hand-made buildings with the expected merge written out byte by byte.
TEST(Merge, HandMadeBuildingsMergeToTheWrittenExpectation) {
    Image base = initialImage();
    putKey(base, 0, 1, 0x10);
    putKey(base, 1, 2, 0x20);
    putKey(base, 2, 3, 0x30);
    putResident(base, 1, 1, 1, 1111, 101);
    putResident(base, 2, 5, 7, 2222, 0);
    putGeneral(base, 0, 1357, 0xFF, 0xFF);
    putDigitizer(base, 0, 4, 2, 5, 1);

    // The office: a new key for flat 4, a new open code for 1.1, p001 raised.
    Image file = base;
    putKey(file, 3, 4, 0x40);
    putResident(file, 1, 1, 1, 9876, 101);
    writeLE16(file, param("p001_UpDown"), 3300);
    // The building meanwhile: key of flat 2 lost, a general code added, the
    // resident of 2.5 changed the open code at the keypad, a digitizer moved.
    Image controller = base;
    putKey(controller, 1, 3, 0x30);
    std::fill_n(controller.begin() + static_cast<std::ptrdiff_t>(keyAt(2)), 8, 0xFF);
    putGeneral(controller, 1, 2468, 2, 0);
    putResident(controller, 2, 5, 7, 5555, 0);
    putDigitizer(controller, 0, 4, 2, 6, 1);

    Image expected = initialImage();
    putKey(expected, 0, 1, 0x10);
    putKey(expected, 1, 3, 0x30);
    putKey(expected, 2, 4, 0x40);
    putResident(expected, 1, 1, 1, 9876, 101);
    putResident(expected, 2, 5, 7, 5555, 0);
    putGeneral(expected, 0, 1357, 0xFF, 0xFF);
    putGeneral(expected, 1, 2468, 2, 0);
    putDigitizer(expected, 0, 4, 2, 6, 1);
    writeLE16(expected, param("p001_UpDown"), 3300);

    const ThreeWayMerge m = mergeVersions(version(base), version(file), version(controller));
    EXPECT_EQ(m.count(MergeState::Sent), 3u);
    EXPECT_EQ(m.count(MergeState::Kept), 4u);
    EXPECT_EQ(m.count(MergeState::Conflict), 0u);
    const MergedVersion out = resolveMerge(m, {});
    ASSERT_TRUE(out.complete());
    for (std::size_t i = 0; i < kImageSize; ++i) ASSERT_EQ(out.version.image[i], expected[i]) << "offset " << i;

    // Both sides add keys: the 3 of the base and these fill all 512 records,
    // or one more than that, which nothing is built from.
    const struct {
        int fileAdds, controllerAdds;
        bool fits;
    } fills[] = {{254, 255, true}, {254, 256, false}};
    for (const auto& fill : fills) {
        Image fullFile = base, fullController = base;
        for (int k = 0; k < fill.fileAdds; ++k) putKey(fullFile, 3 + k, 5, static_cast<std::uint8_t>(k));
        for (int k = 0; k < fill.controllerAdds; ++k) putKey(fullController, 3 + k, 6, static_cast<std::uint8_t>(k));
        for (Image* img : {&fullFile, &fullController})
            for (int k = 3; k < 512; ++k)  // serials of their own on each side
                if ((*img)[keyAt(k)] != 0xFF)
                    (*img)[keyAt(k) + 2] = static_cast<std::uint8_t>(k >> 8 | (img == &fullFile ? 0x80 : 0x40));
        const MergedVersion full =
            resolveMerge(mergeVersions(version(base), version(fullFile), version(fullController)), {});
        EXPECT_EQ(full.complete(), fill.fits) << fill.controllerAdds;
        EXPECT_EQ(full.overfull, fill.fits ? std::vector<GridId>{} : std::vector<GridId>{GridId::Keys});
    }
}

namespace {

// Random edits of one side of the sample building, each on an item of its
// own: `owner` hands every identity to one side only.
struct Editor {
    std::mt19937 rng;
    int side;                       // 0 or 1
    std::function<bool(int)> mine;  // whether an item number belongs to this side

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }

    // Edits as the window or the keypad would make them, by identity; the
    // same function applied to the other side's result gives "both applied".
    std::vector<Edit> make() {
        std::vector<Edit> edits;
        const auto& table = parameterTable();
        for (std::size_t p = 0; p < table.size(); ++p)
            if (mine(static_cast<int>(p)) && below(4) == 0) {
                const Parameter& par = table[p];
                const std::uint8_t v = static_cast<std::uint8_t>(below(256));
                if (par.kind == ControlKind::BitCheck)
                    edits.push_back([&par](Image& i) { i[par.offset] ^= static_cast<std::uint8_t>(1u << par.bit); });
                else
                    edits.push_back([&par, v](Image& i) { i[par.offset + static_cast<std::size_t>(par.width) - 1] = v; });
            }
        for (int slot = 0; slot < 80; ++slot)
            if (mine(1000 + slot) && below(5) == 0) {
                const int line = slot < 40 ? 1 : 2, local = slot < 40 ? slot + 1 : slot - 39, open = 1 + below(9999);
                if (below(3) == 0)
                    edits.push_back([=](Image& i) { putResident(i, line, local, 0, 0, 0); });
                else
                    edits.push_back(
                        [=](Image& i) { writeBcdCode(i, residentOffset(ResidentCode::Open, line, local), open); });
            }
        // Keys by serial: move to another flat or delete (found wherever they stand); add new ones.
        for (int k = 0; k < 32; ++k)
            if (mine(2000 + k) && below(4) == 0) {
                const std::array<std::uint8_t, 6> serial = sampleSerial(k);
                const bool remove = below(2) == 0;
                const std::uint8_t flat = static_cast<std::uint8_t>(50 + below(100));
                edits.push_back([=](Image& i) {
                    for (int r = 0; r < 512; ++r)
                        if (std::equal(serial.begin(), serial.end(), &i[keyAt(r) + 2])) {
                            if (remove)
                                dropKey(i, r);
                            else
                                i[keyAt(r) + 1] = flat;
                            return;
                        }
                });
            }
        for (int n = below(3); n > 0; --n) {
            const std::uint8_t tag = static_cast<std::uint8_t>(0xA0 + side * 0x10 + n);
            edits.push_back([tag](Image& i) {
                int r = 0;
                while (i[keyAt(r)] != 0xFF || i[keyAt(r) + 1] != 0xFF) ++r;
                putKey(i, r, 60, tag);
            });
        }
        for (int g = 0; g < 4; ++g)
            if (mine(3000 + g) && below(3) == 0) {
                const std::uint8_t panel = static_cast<std::uint8_t>(1 + below(200));
                edits.push_back([=](Image& i) { i[mem::kGeneralAttrs + 2 * static_cast<std::size_t>(g)] = panel; });
            }
        for (int b = 0; b < 256; ++b)  // the free area below the tables, by block
            if (mine(4000 + b) && below(40) == 0) {
                const std::size_t off = static_cast<std::size_t>(b) * kBlockSize + static_cast<std::size_t>(below(32));
                const std::uint8_t v = static_cast<std::uint8_t>(below(255));
                edits.push_back([=](Image& i) { i[off] = v; });
            }
        return edits;
    }

    static std::array<std::uint8_t, 6> sampleSerial(int k) {
        const Image s = sampleBuildingImage();
        std::array<std::uint8_t, 6> serial{};
        std::copy_n(&s[keyAt(k) + 2], 6, serial.begin());
        return serial;
    }
};

Image applyAll(Image img, const std::vector<Edit>& edits) {
    for (const Edit& e : edits) e(img);
    return img;
}

}  // namespace

// Edits on both sides that touch different items merge to both applied, and
// a side that changed nothing leaves the other side's image as it is.
TEST(Merge, DisjointRandomEditsMergeToBothApplied) {
    const Image base = sampleBuildingImage();
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 owner(seed);
        std::vector<int> side(5000);
        for (int& s : side) s = static_cast<int>(owner() % 2);
        Editor file{std::mt19937(seed * 7), 0, [&side](int item) { return side[static_cast<std::size_t>(item)] == 0; }};
        Editor controller{std::mt19937(seed * 13), 1,
                          [&side](int item) { return side[static_cast<std::size_t>(item)] == 1; }};
        const std::vector<Edit> fileEdits = file.make(), controllerEdits = controller.make();
        const Image fileImage = applyAll(base, fileEdits), controllerImage = applyAll(base, controllerEdits);

        const ThreeWayMerge m = mergeVersions(version(base), version(fileImage), version(controllerImage));
        EXPECT_EQ(m.count(MergeState::Conflict), 0u);
        const MergedVersion out = resolveMerge(m, {});
        ASSERT_TRUE(out.complete());
        EXPECT_EQ(out.version.image, applyAll(fileImage, controllerEdits));

        const ThreeWayMerge unchanged = mergeVersions(version(base), version(fileImage), version(base));
        EXPECT_TRUE(unchanged.controllerUnchanged());
        EXPECT_EQ(unchanged.count(MergeState::Sent), unchanged.items.size());
        EXPECT_EQ(resolveMerge(unchanged, {}).version.image, fileImage);
        EXPECT_EQ(resolveMerge(mergeVersions(version(base), version(base), version(controllerImage)), {}).version.image,
                  controllerImage);
    }
}

namespace {

// A general-code table as (code, panel) rows in table order.
using Generals = std::vector<std::pair<int, int>>;

Image withGenerals(const Generals& rows) {
    Image img = initialImage();
    for (std::size_t i = 0; i < rows.size(); ++i)
        putGeneral(img, static_cast<int>(i), rows[i].first, static_cast<std::uint8_t>(rows[i].second), 0);
    return img;
}

std::map<std::pair<int, int>, int> generalCounts(const Image& img) {
    std::map<std::pair<int, int>, int> counts;
    for (std::size_t i = 0; i < mem::kGeneralCount; ++i)
        if (img[mem::kGeneralCodes + 2 * i] != 0xFF || img[mem::kGeneralCodes + 2 * i + 1] != 0xFF)
            ++counts[{DecodeBcdCode(&img[mem::kGeneralCodes + 2 * i]), img[mem::kGeneralAttrs + 2 * i]}];
    return counts;
}

}  // namespace

// General codes may repeat. Per row content, counted: a side that left it
// alone gets the other side's count, else it ends between the two sides'
// counts (a row both revoked stays revoked); a code in conflict gets the
// chosen side's rows. First the two tables that once lost a deletion, then
// random tables of few codes and panels.
TEST(Merge, RepeatedGeneralCodesMergeAsMultisets) {
    std::vector<std::array<Generals, 3>> tables = {
        {Generals{{1111, 1}, {1111, 2}}, Generals{{1111, 1}}, Generals{{1111, 2}}},
        {Generals{{1111, 1}, {1111, 2}}, Generals{{1111, 2}}, Generals{{1111, 1}, {1111, 3}}},
    };
    std::mt19937 rng(37);
    const auto below = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    const auto randomRow = [&below] { return std::pair<int, int>{1111 * (1 + below(3)), 1 + below(3)}; };
    while (tables.size() < 400) {
        Generals base(static_cast<std::size_t>(below(9)));
        for (auto& row : base) row = randomRow();
        std::array<Generals, 3> t{base, base, base};
        for (int side = 1; side < 3; ++side)
            for (int n = below(4); n > 0; --n) {
                Generals& rows = t[static_cast<std::size_t>(side)];
                const int what = below(3);
                if (what == 0 || rows.empty())
                    rows.push_back(randomRow());
                else if (what == 1)
                    rows.erase(rows.begin() + below(static_cast<int>(rows.size())));
                else
                    rows[static_cast<std::size_t>(below(static_cast<int>(rows.size())))].second = 1 + below(3);
            }
        tables.push_back(t);
    }
    for (std::size_t t = 0; t < tables.size(); ++t) {
        SCOPED_TRACE(t);
        const Image b = withGenerals(tables[t][0]), f = withGenerals(tables[t][1]), c = withGenerals(tables[t][2]);
        const ThreeWayMerge m = mergeVersions(version(b), version(f), version(c));
        std::set<int> conflicting;
        for (const MergeItem& item : m.items)
            if (item.state == MergeState::Conflict)
                conflicting.insert(DecodeBcdCode(reinterpret_cast<const std::uint8_t*>(item.identity.data())));
        for (MergeChoice side : {MergeChoice::File, MergeChoice::Controller}) {
            const MergedVersion out = resolveMerge(m, chooseAll(m, side));
            ASSERT_TRUE(out.complete());
            auto base = generalCounts(b), file = generalCounts(f), controller = generalCounts(c),
                 merged = generalCounts(out.version.image);
            std::set<std::pair<int, int>> rows;
            for (const auto* counts : {&base, &file, &controller, &merged})
                for (const auto& [row, n] : *counts) rows.insert(row);
            for (const auto& row : rows) {
                const int nb = base[row], nf = file[row], nc = controller[row], n = merged[row];
                SCOPED_TRACE(std::to_string(row.first) + "@" + std::to_string(row.second));
                if (conflicting.count(row.first))
                    EXPECT_EQ(n, side == MergeChoice::File ? nf : nc);
                else if (nf == nb)
                    EXPECT_EQ(n, nc);
                else if (nc == nb)
                    EXPECT_EQ(n, nf);
                else
                    EXPECT_TRUE(std::min(nf, nc) <= n && n <= std::max(nf, nc)) << n;
            }
        }
    }
}
