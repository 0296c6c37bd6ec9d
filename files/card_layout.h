#pragma once
// The residents' cards as drawing primitives: every resident slot with a call
// code gets one 85 x 51 mm card, ten to an A4 sheet, with cutting marks.
// Coordinates are logical units of the 2,100 x 2,970 page (tenths of a
// millimetre), origin top-left, y downwards. Texts are UTF-8.
#include "image/image.h"

#include <string>
#include <vector>

namespace kelvane {

constexpr int kCardPageWidth = 2100;
constexpr int kCardPageHeight = 2970;
constexpr int kCardWidth = 850;
constexpr int kCardHeight = 510;
constexpr int kCardRowHeight = 51;
constexpr int kCardsPerPage = 10;
constexpr int kCardsPerColumn = 5;
constexpr int kCardFontHeight = 35;    // character cell height of all three fonts
constexpr int kCardCutMark = 100;      // how far the edges run past the corners
constexpr int kCardValueColumn = 640;  // left edge of the value column

// The card entries of the language table, in one language, in table order.
struct CardTexts {
    std::string flatNumberLabel;
    std::string callCodeLabel;
    std::string openCodeLabel;
    std::string mainCallCodeLabel;
    std::string mainOpenCodeLabel;
    std::string instruction1;
    std::string instruction2;
    std::string instruction3;
    std::string instruction4;
    std::string missingValue;
};

struct CardPoint {
    int x = 0;
    int y = 0;
    bool operator==(const CardPoint& o) const { return x == o.x && y == o.y; }
};

struct CardLine {
    CardPoint from;
    CardPoint to;
    bool operator==(const CardLine& o) const { return from == o.from && to == o.to; }
};

enum class CardFont { Bold, Normal, BoldItalic };

struct CardText {
    CardPoint topLeft;  // top-left corner of the first character cell
    CardFont font = CardFont::Normal;
    std::string text;
};

// One card: its lines, then its texts, each in drawing order.
struct Card {
    int line = 0;   // handset line of the slot, 1 or 2
    int local = 0;  // local number of the slot, 1..255
    CardPoint corner;
    std::vector<CardLine> lines;
    std::vector<CardText> texts;
};

struct CardPage {
    std::vector<Card> cards;  // in fill order
};

// A slot's three codes as numbers; -1 when not set.
struct ResidentCodes {
    int logical = -1;
    int open = -1;
    int main = -1;
};

// The four value texts of a card: call code, open code, main-entrance call
// code, main-entrance open code.
struct CardValues {
    std::string callCode;
    std::string openCode;
    std::string mainCallCode;
    std::string mainOpenCode;
};

// Top-left corner of card position 0..9: left column top to bottom, then right.
CardPoint cardCorner(int position);

CardValues cardValueTexts(const ResidentCodes& codes, const std::string& missingValue);

// The card of one slot at the given corner; the card text is drawn at its
// foot only when not empty.
Card layoutCard(CardPoint corner, const ResidentCodes& codes, const CardTexts& texts, const std::string& cardText);

// The three codes of the slot (line 1 or 2, local number 1..255).
ResidentCodes readResidentCodes(const Image& image, int line, int local);

// Every page of the print job. Slots are taken in image order, LU1 then LU2,
// local numbers ascending; only slots with a logical code get a card. A page
// is emitted only when it holds a card, so with no resident there is none.
std::vector<CardPage> layoutCardPages(const Image& image, const CardTexts& texts, const std::string& cardText);

}  // namespace kelvane
