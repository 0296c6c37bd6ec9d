#include "texts/diagnostic_texts.h"

#include "texts/language_table.h"

#include <cstdio>
#include <optional>

namespace kelvane::texts {

namespace {

constexpr const char M[] = "...";

constexpr Row<DiagnosticText> kDiagnostic[] = {
    TEXT_ROW(DiagnosticText::ToolsMenu, "Narzędzia", "Tools", M),
    TEXT_ROW(DiagnosticText::LineTestEntry, "Test łącza", "Line test", M),
    TEXT_ROW(DiagnosticText::FindAdapterEntry, "Znajdź mój adapter", "Find my adapter", M),
    TEXT_ROW(DiagnosticText::SupportBundleEntry, "Zapisz paczkę dla serwisu…", "Save support bundle…", M),
    TEXT_ROW(DiagnosticText::BundleContents, "W paczce znajdą się (kody, klucze i hasło zamaskowane):",
             "The bundle will hold (codes, keys and password masked):", M),
    TEXT_ROW(DiagnosticText::BundleSaved, "Zapisano paczkę: %s", "Bundle saved: %s", "...: %s"),
    TEXT_ROW(DiagnosticText::BundleNotSaved, "Nie zapisano paczki: %s", "Bundle not saved: %s", "...: %s"),
    TEXT_ROW(DiagnosticText::BundleFilter, "Archiwum ZIP (*.zip)", "ZIP archive (*.zip)", "ZIP (*.zip)"),
    TEXT_ROW(DiagnosticText::LineTestRunning, "Test łącza na porcie %s…", "Testing the line on %s…", "... %s"),
    TEXT_ROW(DiagnosticText::Adapter, "Adapter: %s", "Adapter: %s", "...: %s"),
    TEXT_ROW(DiagnosticText::AdapterNotListed, "Adapter: %s (nie ma go na liście portów systemu)",
             "Adapter: %s (not in the system's port list)", "...: %s"),
    TEXT_ROW(DiagnosticText::Driver, "sterownik %s", "driver %s", "... %s"),
    TEXT_ROW(DiagnosticText::UsbNumbers, "USB %s", "USB %s", "USB %s"),
    TEXT_ROW(DiagnosticText::LatencyTimer, "Latency timer adaptera: %s ms", "Latency timer: %s ms", "...: %s ms"),
    TEXT_ROW(DiagnosticText::LowLatencyOn, "Tryb małych opóźnień: włączony", "Low latency: on", M),
    TEXT_ROW(DiagnosticText::LowLatencyOff, "Tryb małych opóźnień: wyłączony (sterownik odmówił)",
             "Low latency: off (the driver refused it)", M),
    TEXT_ROW(DiagnosticText::LoopbackFound, "Wykryto wtyk pętli zwrotnej: wysłano wzorce po %d bajtów",
             "Loopback plug found: patterns of %d bytes sent", "... %d"),
    TEXT_ROW(DiagnosticText::LoopbackPass,
             "%d bodów: wysłano %d, wróciło %d, utracono %d, zmienionych %d, nadmiarowych %d; czas obiegu %s",
             "%d baud: %d sent, %d back, %d lost, %d changed, %d extra; round trip %s", "%d: %d, %d, %d, %d, %d; %s"),
    TEXT_ROW(DiagnosticText::NoLoopback, "Brak pętli zwrotnej: zasilacz odpytano %d razy",
             "No loopback: the controller probed %d times", "... %d"),
    TEXT_ROW(DiagnosticText::ProbeCounts, "Odpowiedzi: %d z %d, bez odpowiedzi: %d; czas odpowiedzi %s",
             "Answers: %d of %d, no answer: %d; response time %s", "%d / %d, %d; %s"),
    TEXT_ROW(DiagnosticText::Timing, "%.1f ms (min %.1f ms, maks %.1f ms, %d razy)",
             "%.1f ms (min %.1f ms, max %.1f ms, %d times)", "%.1f ms (%.1f, %.1f, %d)"),
    TEXT_ROW(DiagnosticText::TimingNone, "brak", "none", M),
    TEXT_ROW(DiagnosticText::FindUnplug, "Odłącz adapter USB od komputera i naciśnij Dalej.",
             "Unplug the USB adapter from the computer and press Next.", M),
    TEXT_ROW(DiagnosticText::FindPlugIn, "Podłącz adapter i naciśnij Dalej.", "Plug the adapter in and press Next.", M),
    TEXT_ROW(DiagnosticText::FindFound, "Znaleziono: %s", "Found: %s", "...: %s"),
    TEXT_ROW(DiagnosticText::FindNothing, "Nie pojawił się żaden nowy port. Sprawdź kabel i spróbuj jeszcze raz.",
             "No new port appeared. Check the cable and try again.", M),
    TEXT_ROW(DiagnosticText::Next, "Dalej", "Next", M),
    TEXT_ROW(DiagnosticText::Close, "Zamknij", "Close", M),
    TEXT_ROW(DiagnosticText::Save, "Zapisz…", "Save…", M),
    TEXT_ROW(DiagnosticText::Cancel, "Anuluj", "Cancel", M),
    TEXT_ROW(DiagnosticText::LineWorks, "Łącze działa", "The line works", M),
    TEXT_ROW(DiagnosticText::LineLosesBytes, "Łącze gubi bajty", "The line loses bytes", M),
    TEXT_ROW(DiagnosticText::NoController, "Zasilacz nie odpowiada", "The controller does not answer", M),
};

static_assert(rowsMatch(kDiagnostic) && rowInPlace<misplacedRow(kDiagnostic)>(), "one text for each DiagnosticText");

int checked(int language) { return language >= 0 && language < kLanguageCount ? language : kPolish; }

template <typename... Args>
std::string format(DiagnosticText t, int language, Args... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, diagnosticText(t, language), args...);
    return buf;
}

std::string timing(const link::Timing& t, int language) {
    if (t.count == 0) return diagnosticText(DiagnosticText::TimingNone, language);
    std::string text = format(DiagnosticText::Timing, language, t.averageMs, t.minMs, t.maxMs, t.count);
    // The only points in the text are those of its numbers.
    for (char& c : text)
        if (c == '.') c = kLanguages[checked(language)].decimalSeparator;
    return text;
}

// Nothing when the test did not run to its end.
std::optional<DiagnosticText> verdict(const link::LineTestReport& r) {
    if (r.cancelled) return std::nullopt;
    if (r.loopback) {
        if (r.passes.empty()) return std::nullopt;
        for (const link::LoopbackPass& p : r.passes)
            if (!p.clean()) return DiagnosticText::LineLosesBytes;
        return DiagnosticText::LineWorks;
    }
    if (r.probes == 0) return std::nullopt;
    if (r.answers == 0) return DiagnosticText::NoController;
    return r.answers == r.probes ? DiagnosticText::LineWorks : DiagnosticText::LineLosesBytes;
}

}  // namespace

const char* diagnosticText(DiagnosticText entry, int language) { return rowText(kDiagnostic, entry, language); }

const char* textName(DiagnosticText entry) { return kDiagnostic[static_cast<int>(entry)].name; }

std::vector<std::string> lineTestReportLines(const link::LineTestReport& r, int language) {
    std::vector<std::string> lines;
    if (const auto v = verdict(r)) lines.push_back(diagnosticText(*v, language));
    if (r.loopback) {
        lines.push_back(format(DiagnosticText::LoopbackFound, language, link::kPatternBytes));
        for (const link::LoopbackPass& p : r.passes)
            lines.push_back(format(DiagnosticText::LoopbackPass, language, p.baud, p.sent, p.received, p.lost,
                                   p.changed, p.extra, timing(p.roundTrip, language).c_str()));
    } else {
        lines.push_back(format(DiagnosticText::NoLoopback, language, r.probes));
        lines.push_back(format(DiagnosticText::ProbeCounts, language, r.answers, r.probes, r.probes - r.answers,
                               timing(r.answerTime, language).c_str()));
    }
    return lines;
}

std::string adapterLine(const std::string& chosen, const link::PortInfo* port, const std::string& driver, int language) {
    if (!port) return format(DiagnosticText::AdapterNotListed, language, chosen.c_str());
    std::string text = format(DiagnosticText::Adapter, language, link::portEntryText(*port).c_str());
    if (!port->usbId.empty()) text += "; " + format(DiagnosticText::UsbNumbers, language, port->usbId.c_str());
    if (!driver.empty()) text += "; " + format(DiagnosticText::Driver, language, driver.c_str());
    return text;
}

}  // namespace kelvane::texts
