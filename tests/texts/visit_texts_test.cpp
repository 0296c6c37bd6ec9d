#include "texts/language_table.h"
#include "texts/visit_texts.h"

#include <gtest/gtest.h>

using namespace kelvane::texts;

TEST(VisitTexts, OutcomesReadInTheLanguageAndUnknownWordsAsStored) {
    const struct {
        const char* stored;
        const char* polish;
        const char* english;
    } cases[] = {
        {"completed", "ukończono", "completed"},
        {"backup failed", "kopia nieudana", "backup failed"},
        {"completed, firmware 259 -> 106", "ukończono, oprogramowanie 259 → 106", "completed, firmware 259 → 106"},
        // Written by a later version, or damaged: shown as stored.
        {"rolled back", "rolled back", "rolled back"},
        {"completed, firmware 259", "completed, firmware 259", "completed, firmware 259"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outcomeText(c.stored, kPolish), c.polish) << c.stored;
        EXPECT_EQ(outcomeText(c.stored, kEnglish), c.english) << c.stored;
    }
}

TEST(VisitTexts, OneDateFormatPerLanguageWithSeconds) {
    const struct {
        LocalTime time;
        const char* polish;
        const char* english;
    } cases[] = {
        {{2026, 12, 9, 11, 10, 5}, "9.12.2026 11:10:05", "9 Dec 2026 11:10:05"},
        {{2026, 1, 31, 0, 0, 0}, "31.01.2026 00:00:00", "31 Jan 2026 00:00:00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dateTimeText(c.time, kPolish), c.polish);
        EXPECT_EQ(dateTimeText(c.time, kEnglish), c.english);
    }
}
