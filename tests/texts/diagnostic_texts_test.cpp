#include "texts/diagnostic_texts.h"
#include "texts/language_table.h"

#include <gtest/gtest.h>

using namespace kelvane;
using namespace kelvane::texts;

TEST(DiagnosticTexts, LineTestVerdictFirstAndFiguresInTheLanguagesFormat) {
    link::LoopbackPass clean{2400, 512, 512, 0, 0, 0, {}}, lossy{57600, 512, 500, 12, 0, 0, {}};
    link::Timing answers;
    answers.add(236.7);
    const auto probed = [&](int probes, int got, bool cancelled = false) {
        link::LineTestReport r;
        r.probes = probes;
        r.answers = got;
        r.answerTime = answers;
        r.cancelled = cancelled;
        return r;
    };
    const auto looped = [](std::vector<link::LoopbackPass> passes) {
        link::LineTestReport r;
        r.loopback = true;
        r.passes = std::move(passes);
        return r;
    };
    const struct {
        const char* name;
        link::LineTestReport report;
        const char* polish;  // the first line
        const char* english;
    } cases[] = {
        {"every probe answered", probed(20, 20), "Łącze działa", "The line works"},
        {"some unanswered", probed(20, 17), "Łącze gubi bajty", "The line loses bytes"},
        {"none answered", probed(20, 0), "Zasilacz nie odpowiada", "The controller does not answer"},
        {"cancelled: no verdict", probed(20, 3, true), "Brak pętli", "No loopback"},
        {"clean loopback", looped({clean, clean}), "Łącze działa", "The line works"},
        {"a pass lost bytes", looped({clean, lossy}), "Łącze gubi bajty", "The line loses bytes"},
    };
    for (const auto& c : cases) {
        const auto polish = lineTestReportLines(c.report, kPolish);
        const auto english = lineTestReportLines(c.report, kEnglish);
        ASSERT_FALSE(polish.empty()) << c.name;
        EXPECT_EQ(polish[0].rfind(c.polish, 0), 0u) << c.name << ": " << polish[0];
        EXPECT_EQ(english[0].rfind(c.english, 0), 0u) << c.name << ": " << english[0];
    }
    const auto polish = lineTestReportLines(probed(20, 20), kPolish).back();
    const auto english = lineTestReportLines(probed(20, 20), kEnglish).back();
    EXPECT_NE(polish.find("czas odpowiedzi 236,7 ms"), std::string::npos) << polish;
    EXPECT_NE(english.find("response time 236.7 ms"), std::string::npos) << english;
}
