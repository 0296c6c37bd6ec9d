#include "texts/diagnostic_texts.h"
#include "texts/language_table.h"

#include <gtest/gtest.h>

using namespace kelvane;
using namespace kelvane::texts;

TEST(DiagnosticTexts, LineTestVerdictFirstAndFiguresInTheLanguagesFormat) {
    const link::LoopbackPass clean{2400, 512, 512, 0, 0, 0, {}}, lossy{57600, 512, 500, 12, 0, 0, {}};
    const auto report = [](int probes, int answers, std::vector<link::LoopbackPass> passes = {}, bool cancelled = false) {
        link::LineTestReport r;
        r.loopback = !passes.empty();
        r.passes = std::move(passes);
        r.probes = probes;
        r.answers = answers;
        r.answerTime.add(236.7);
        r.cancelled = cancelled;
        return r;
    };
    const struct {
        link::LineTestReport report;
        const char* polish;  // how the first line starts
        const char* english;
    } cases[] = {
        {report(20, 20), "Łącze działa", "The line works"},
        {report(20, 17), "Łącze gubi bajty", "The line loses bytes"},
        {report(20, 0), "Zasilacz nie odpowiada", "The controller does not answer"},
        {report(20, 3, {}, true), "Brak pętli", "No loopback"},  // cancelled: no verdict
        {report(0, 0, {clean, clean}), "Łącze działa", "The line works"},
        {report(0, 0, {clean, lossy}), "Łącze gubi bajty", "The line loses bytes"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lineTestReportLines(c.report, kPolish).at(0).rfind(c.polish, 0), 0u) << c.polish;
        EXPECT_EQ(lineTestReportLines(c.report, kEnglish).at(0).rfind(c.english, 0), 0u) << c.english;
    }
    EXPECT_NE(lineTestReportLines(report(20, 20), kPolish).back().find("czas odpowiedzi 236,7 ms"), std::string::npos);
    EXPECT_NE(lineTestReportLines(report(20, 20), kEnglish).back().find("response time 236.7 ms"), std::string::npos);
}
