// Layout of the residents' cards: which slots get cards, where they stand on
// the page and what they say.
#include "files/card_layout.h"
#include "image/codecs.h"
#include "tests/print/card_texts.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

CardTexts englishTexts() {
    return {"Local number",
            "Call code",
            "Open code",
            "Call code from main entrance",
            "Open code from main entrance",
            "To open the door:",
            "* press the # key on the keyboard",
            "* enter Your open code",
            "* confirm by presing #",
            "there is no"};
}

CardTexts placeholderTexts() {
    return {"....", "....", "....", "....", "....", "....", "....", "....", "....", "...."};
}

void putCode(Image& image, ResidentCode kind, int line, int local, int value) {
    const auto bcd = EncodeBcdCode(value);
    const std::size_t off = residentOffset(kind, line, local);
    image[off] = bcd[0];
    image[off + 1] = bcd[1];
}

// A code of 0 leaves the field empty.
void putSlot(Image& image, int line, int local, int logical, int open = 0, int main = 0) {
    putCode(image, ResidentCode::Logical, line, local, logical);
    putCode(image, ResidentCode::Open, line, local, open);
    putCode(image, ResidentCode::Main, line, local, main);
}

// The text drawn at (dx, dy) from the card's corner, or "<none>".
std::string textAt(const Card& card, int dx, int dy) {
    for (const CardText& t : card.texts)
        if (t.topLeft.x == card.corner.x + dx && t.topLeft.y == card.corner.y + dy) return t.text;
    return "<none>";
}

constexpr int kValue = 650;
constexpr int kCallRow = 56, kOpenRow = 107, kMainCallRow = 158, kMainOpenRow = 209;

TEST(CardPages, ElevenSlotsFillOneSheetColumnByColumnAndStartAnother) {
    Image image = erasedImage();
    for (int local = 1; local <= 11; ++local) putSlot(image, 1, local, 100 + local, 1);
    const auto pages = layoutCardPages(image, polishCardTexts(), "");
    ASSERT_EQ(pages.size(), 2u);
    ASSERT_EQ(pages[0].cards.size(), 10u);
    ASSERT_EQ(pages[1].cards.size(), 1u);
    const CardPoint corners[10] = {{200, 210},  {200, 720},  {200, 1230},  {200, 1740},  {200, 2250},
                                   {1050, 210}, {1050, 720}, {1050, 1230}, {1050, 1740}, {1050, 2250}};
    for (int p = 0; p < 10; ++p) {
        EXPECT_EQ(pages[0].cards[p].corner, corners[p]) << p;
        EXPECT_EQ(pages[0].cards[p].local, p + 1);
        EXPECT_EQ(textAt(pages[0].cards[p], kValue, kCallRow), std::to_string(101 + p));
    }
    EXPECT_EQ(pages[1].cards[0].corner, (CardPoint{200, 210}));
    EXPECT_EQ(textAt(pages[1].cards[0], kValue, kCallRow), "111");
}

TEST(CardPages, NoPageWithoutCards) {
    EXPECT_TRUE(layoutCardPages(initialImage(), polishCardTexts(), "x").empty());
    EXPECT_TRUE(layoutCardPages(erasedImage(), polishCardTexts(), "x").empty());

    // Ten cards fill one sheet exactly: no trailing empty sheet.
    Image image = erasedImage();
    for (int local = 1; local <= 10; ++local) putSlot(image, 1, local, local);
    EXPECT_EQ(layoutCardPages(image, polishCardTexts(), "").size(), 1u);

    Image full = erasedImage();
    for (int line = 1; line <= 2; ++line)
        for (int local = 1; local <= 255; ++local) putSlot(full, line, local, local, local, local);
    const auto pages = layoutCardPages(full, polishCardTexts(), "");
    ASSERT_EQ(pages.size(), 51u);
    for (const CardPage& page : pages) EXPECT_EQ(page.cards.size(), 10u);
}

TEST(CardPages, OnlySlotsWithCallCodeGetCards) {
    Image image = erasedImage();
    putCode(image, ResidentCode::Open, 1, 1, 1234);  // shown in the grid, no card
    putCode(image, ResidentCode::Main, 1, 2, 77);    // likewise
    putCode(image, ResidentCode::Open, 1, 3, 5);
    putCode(image, ResidentCode::Main, 1, 3, 6);
    putSlot(image, 1, 4, 44);
    const auto pages = layoutCardPages(image, polishCardTexts(), "");
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].cards.size(), 1u);
    EXPECT_EQ(pages[0].cards[0].local, 4);
    EXPECT_EQ(pages[0].cards[0].corner, (CardPoint{200, 210}));
}

TEST(CardPages, SecondLineSlotsReadTheirOwnArraysAndFollowTheFirstLine) {
    Image image = erasedImage();
    // LU2 local 1: logical at 0x21FE, open at 0x25FE, main at 0x2AFE.
    image[0x21FE] = 0xF2;
    image[0x21FF] = 0x01;
    image[0x25FE] = 0xFF;
    image[0x25FF] = 0xF9;
    image[0x2AFE] = 0xF3;
    image[0x2AFF] = 0x02;
    // LU2 local 255, the last slot: 0x23FA, 0x27FA, 0x2CFA.
    image[0x23FA] = 0x99;
    image[0x23FB] = 0x99;
    image[0x27FA] = 0x12;
    image[0x27FB] = 0x34;
    // LU1 local 255 comes before both.
    putSlot(image, 1, 255, 155);
    const auto pages = layoutCardPages(image, polishCardTexts(), "");
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].cards.size(), 3u);
    const Card& first = pages[0].cards[0];
    const Card& lu2first = pages[0].cards[1];
    const Card& lu2last = pages[0].cards[2];
    EXPECT_EQ(first.line, 1);
    EXPECT_EQ(first.local, 255);
    EXPECT_EQ(lu2first.line, 2);
    EXPECT_EQ(lu2first.local, 1);
    EXPECT_EQ(textAt(lu2first, kValue, kCallRow), "201");
    EXPECT_EQ(textAt(lu2first, kValue, kOpenRow), "2010009");
    EXPECT_EQ(textAt(lu2first, kValue, kMainCallRow), "302");
    EXPECT_EQ(textAt(lu2first, kValue, kMainOpenRow), "3020009");
    EXPECT_EQ(lu2last.local, 255);
    EXPECT_EQ(textAt(lu2last, kValue, kOpenRow), "99991234");
    EXPECT_EQ(textAt(lu2last, kValue, kMainCallRow), "brak");
}

TEST(CardValues, MissingValueTextStandsForEveryRowThatLacksACode) {
    const CardValues noOpen = cardValueTexts({12, -1, 34}, "brak");
    EXPECT_EQ(noOpen.callCode, "12");
    EXPECT_EQ(noOpen.openCode, "brak");
    EXPECT_EQ(noOpen.mainCallCode, "34");
    EXPECT_EQ(noOpen.mainOpenCode, "brak");

    const CardValues noMain = cardValueTexts({12, 5678, -1}, "there is no");
    EXPECT_EQ(noMain.openCode, "125678");
    EXPECT_EQ(noMain.mainCallCode, "there is no");
    EXPECT_EQ(noMain.mainOpenCode, "there is no");

    const CardValues neither = cardValueTexts({12, -1, -1}, "....");
    EXPECT_EQ(neither.openCode, "....");
    EXPECT_EQ(neither.mainCallCode, "....");
    EXPECT_EQ(neither.mainOpenCode, "....");
}

TEST(CardValues, OpenCodeKeepsFourDigitsAfterTheCallCode) {
    const CardValues v = cardValueTexts({12, 7, 3}, "brak");
    EXPECT_EQ(v.openCode, "120007");
    EXPECT_EQ(v.mainOpenCode, "30007");
    EXPECT_EQ(cardValueTexts({9999, 0, 1}, "brak").openCode, "99990000");
    EXPECT_EQ(cardValueTexts({1, 1000, 1}, "brak").mainOpenCode, "11000");
}

TEST(CardValues, CodesComeFromTheImageAsStored) {
    Image image = erasedImage();
    putSlot(image, 1, 1, 12, 7);
    const auto pages = layoutCardPages(image, polishCardTexts(), "");
    ASSERT_EQ(pages.size(), 1u);
    const Card& card = pages[0].cards[0];
    EXPECT_EQ(textAt(card, kValue, kOpenRow), "120007");
    EXPECT_EQ(textAt(card, kValue, kMainCallRow), "brak");
    EXPECT_EQ(textAt(card, kValue, kMainOpenRow), "brak");
}

TEST(CardDrawing, LinesOfOneCardWithCuttingMarks) {
    const Card card = layoutCard({200, 210}, {1, 2, 3}, polishCardTexts(), "");
    const std::vector<CardLine> expected = {
        {{100, 210}, {1150, 210}},  // top edge
        {{200, 261}, {1050, 261}},  // five table rows
        {{200, 312}, {1050, 312}},  {{200, 363}, {1050, 363}}, {{200, 414}, {1050, 414}},
        {{200, 465}, {1050, 465}},  {{100, 720}, {1150, 720}},  // bottom edge
        {{200, 110}, {200, 820}},                               // left edge
        {{1050, 110}, {1050, 820}},                             // right edge
        {{840, 210}, {840, 465}},                               // value column
    };
    EXPECT_EQ(card.lines, expected);
}

struct Expected {
    int dx, dy;
    CardFont font;
    std::string text;
};

void expectTexts(const Card& card, const std::vector<Expected>& expected) {
    ASSERT_EQ(card.texts.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const CardText& t = card.texts[i];
        EXPECT_EQ(t.topLeft, (CardPoint{card.corner.x + expected[i].dx, card.corner.y + expected[i].dy})) << i;
        EXPECT_EQ(t.font, expected[i].font) << i;
        EXPECT_EQ(t.text, expected[i].text) << i;
    }
}

TEST(CardDrawing, PolishTextsInOrderWithCardText) {
    const Card card = layoutCard({1050, 1230}, {12, 7, 3}, polishCardTexts(), "Osiedle Zielone, ul. Łąkowa 5");
    const auto B = CardFont::Bold, N = CardFont::Normal, I = CardFont::BoldItalic;
    expectTexts(card, {
                          {10, 5, B, "Numer lokalu/mieszkania"},
                          {650, 56, B, "12"},
                          {650, 107, B, "120007"},
                          {650, 158, B, "3"},
                          {650, 209, B, "30007"},
                          {10, 56, N, "Kod wywołania"},
                          {10, 107, N, "Kod otwarcia"},
                          {10, 158, N, "Kod wywołania z wejścia głównego"},
                          {10, 209, N, "Kod otwarcia z wejścia głównego"},
                          {10, 260, N, "Aby otworzyć drzwi:"},
                          {10, 311, N, "* wciśnij na klawiturze przycisk #"},
                          {10, 362, N, "* wprowadź Twój kod otwarcia"},
                          {10, 413, N, "* zatwierdź wprowadzony kod przyciskiem #"},
                          {10, 464, I, "Osiedle Zielone, ul. Łąkowa 5"},
                      });
}

TEST(CardDrawing, EnglishTextsWithoutCardText) {
    const Card card = layoutCard({200, 210}, {5, -1, -1}, englishTexts(), "");
    const auto B = CardFont::Bold, N = CardFont::Normal;
    expectTexts(card, {
                          {10, 5, B, "Local number"},
                          {650, 56, B, "5"},
                          {650, 107, B, "there is no"},
                          {650, 158, B, "there is no"},
                          {650, 209, B, "there is no"},
                          {10, 56, N, "Call code"},
                          {10, 107, N, "Open code"},
                          {10, 158, N, "Call code from main entrance"},
                          {10, 209, N, "Open code from main entrance"},
                          {10, 260, N, "To open the door:"},
                          {10, 311, N, "* press the # key on the keyboard"},
                          {10, 362, N, "* enter Your open code"},
                          {10, 413, N, "* confirm by presing #"},
                      });
}

TEST(CardDrawing, ThirdLanguagePlaceholdersAndCardTextOnEveryCard) {
    Image image = erasedImage();
    putSlot(image, 1, 1, 1);
    putSlot(image, 2, 9, 2, 3, 4);
    const auto pages = layoutCardPages(image, placeholderTexts(), "x");
    ASSERT_EQ(pages.size(), 1u);
    for (const Card& card : pages[0].cards) {
        ASSERT_EQ(card.texts.size(), 14u);
        for (int i : {0, 5, 6, 7, 8, 9, 10, 11, 12}) EXPECT_EQ(card.texts[i].text, "....");
        EXPECT_EQ(card.texts[13].text, "x");
    }
    EXPECT_EQ(textAt(pages[0].cards[0], kValue, kOpenRow), "....");
    EXPECT_EQ(textAt(pages[0].cards[1], kValue, kMainOpenRow), "40003");
}

}  // namespace
}  // namespace kelvane
