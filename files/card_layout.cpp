#include "files/card_layout.h"

#include "image/codecs.h"

#include <cstdio>

namespace kelvane {

namespace {

int readCode(const Image& image, ResidentCode code, int line, int local) {
    return DecodeBcdCode(image.data() + residentOffset(code, line, local));  // -1 for FF FF
}

}  // namespace

CardPoint cardCorner(int position) {
    return {200 + kCardWidth * (position / kCardsPerColumn), 210 + kCardHeight * (position % kCardsPerColumn)};
}

CardValues cardValueTexts(const ResidentCodes& codes, const std::string& missingValue) {
    CardValues v;
    v.callCode = formatNumber("%d", codes.logical);
    v.openCode = codes.open < 0 ? missingValue : v.callCode + formatNumber("%04d", codes.open);
    v.mainCallCode = codes.main < 0 ? missingValue : formatNumber("%d", codes.main);
    v.mainOpenCode = (codes.open < 0 || codes.main < 0) ? missingValue : v.mainCallCode + formatNumber("%04d", codes.open);
    return v;
}

Card layoutCard(CardPoint c, const ResidentCodes& codes, const CardTexts& t, const std::string& cardText) {
    Card card;
    card.corner = c;
    const int x = c.x, y = c.y, w = kCardWidth, h = kCardHeight, m = kCardCutMark, r = kCardRowHeight;

    auto& lines = card.lines;
    lines.push_back({{x - m, y}, {x + w + m, y}});
    for (int k = 1; k <= 5; ++k) lines.push_back({{x, y + r * k}, {x + w, y + r * k}});
    lines.push_back({{x - m, y + h}, {x + w + m, y + h}});
    lines.push_back({{x, y - m}, {x, y + h + m}});
    lines.push_back({{x + w, y - m}, {x + w, y + h + m}});
    lines.push_back({{x + kCardValueColumn, y}, {x + kCardValueColumn, y + 5 * r}});

    const CardValues v = cardValueTexts(codes, t.missingValue);
    const int label = x + 10, value = x + kCardValueColumn + 10;
    auto row = [&](int k) { return y + 5 + r * k; };  // text top of table row k
    auto& texts = card.texts;
    texts.push_back({{label, row(0)}, CardFont::Bold, t.flatNumberLabel});
    texts.push_back({{value, row(1)}, CardFont::Bold, v.callCode});
    texts.push_back({{value, row(2)}, CardFont::Bold, v.openCode});
    texts.push_back({{value, row(3)}, CardFont::Bold, v.mainCallCode});
    texts.push_back({{value, row(4)}, CardFont::Bold, v.mainOpenCode});
    texts.push_back({{label, row(1)}, CardFont::Normal, t.callCodeLabel});
    texts.push_back({{label, row(2)}, CardFont::Normal, t.openCodeLabel});
    texts.push_back({{label, row(3)}, CardFont::Normal, t.mainCallCodeLabel});
    texts.push_back({{label, row(4)}, CardFont::Normal, t.mainOpenCodeLabel});
    texts.push_back({{label, row(5)}, CardFont::Normal, t.instruction1});
    texts.push_back({{label, row(6)}, CardFont::Normal, t.instruction2});
    texts.push_back({{label, row(7)}, CardFont::Normal, t.instruction3});
    texts.push_back({{label, row(8)}, CardFont::Normal, t.instruction4});
    if (!cardText.empty()) texts.push_back({{label, row(9)}, CardFont::BoldItalic, cardText});
    return card;
}

ResidentCodes readResidentCodes(const Image& image, int line, int local) {
    return {readCode(image, ResidentCode::Logical, line, local), readCode(image, ResidentCode::Open, line, local),
            readCode(image, ResidentCode::Main, line, local)};
}

std::vector<CardPage> layoutCardPages(const Image& image, const CardTexts& texts, const std::string& cardText) {
    std::vector<CardPage> pages;
    int filled = kCardsPerPage;  // cards on the last page
    for (int line = 1; line <= 2; ++line) {
        for (int local = 1; local <= static_cast<int>(mem::kResidentsPerLine); ++local) {
            const ResidentCodes codes = readResidentCodes(image, line, local);
            if (codes.logical < 0) continue;
            if (filled == kCardsPerPage) {
                pages.emplace_back();
                filled = 0;
            }
            Card card = layoutCard(cardCorner(filled++), codes, texts, cardText);
            card.line = line;
            card.local = local;
            pages.back().cards.push_back(std::move(card));
        }
    }
    return pages;
}

}  // namespace kelvane
