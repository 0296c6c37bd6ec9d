#include "texts/report_text.h"

#include "image/parameters.h"
#include "link/net_port.h"
#include "image/secret_mask.h"
#include "texts/configuration_warnings.h"
#include "texts/language_table.h"

#include <cstdio>

namespace kelvane::texts {

namespace {

constexpr const char M[] = "...";

constexpr Row<ReportText> kTexts[] = {
    TEXT_ROW(ReportText::Command, "Raport z wizyty…", "Visit report…", M),
    TEXT_ROW(ReportText::Question,
             "Raport z wizyty dla zarządcy budynku: kody lokatorów, kody ogólne i klucze zamaskować (••••) czy pokazać?",
             "The visit report for the building manager: mask the residents' codes, general codes and keys (••••) or "
             "show them?",
             M),
    TEXT_ROW(ReportText::Masked, "Zamaskuj kody", "Mask the codes", M),
    TEXT_ROW(ReportText::Shown, "Pokaż kody", "Show the codes", M),
    TEXT_ROW(ReportText::Cancel, "Anuluj", "Cancel", M),
    TEXT_ROW(ReportText::SaveTitle, "Zapisz raport z wizyty", "Save the visit report", M),
    TEXT_ROW(ReportText::Written, "Raport zapisany: %s", "Report saved: %s", "...: %s"),
    TEXT_ROW(ReportText::NotRecorded, "Rejestr nie zapisał raportu: %s", "The register did not note the report: %s",
             "...: %s"),
    TEXT_ROW(ReportText::KindName, "raport", "report", M),
    TEXT_ROW(ReportText::Offer, "Wysłano do sterownika. Raport z wizyty dla zarządcy budynku:",
             "Sent to the controller. The visit report for the building manager:", M),
    TEXT_ROW(ReportText::FileName, "raport-%s-%s.pdf", "report-%s-%s.pdf", "report-%s-%s.pdf"),
};
static_assert(rowsMatch(kTexts) && rowInPlace<misplacedRow(kTexts)>(), "one text for each ReportText");

constexpr Row<SheetText> kSheet[] = {
    TEXT_ROW(SheetText::Title, "Raport z wizyty serwisowej", "Service visit report", M),
    TEXT_ROW(SheetText::Building, "Budynek", "Building", M),
    TEXT_ROW(SheetText::Address, "Adres", "Address", M),
    TEXT_ROW(SheetText::VisitDate, "Data wizyty", "Date of the visit", M),
    TEXT_ROW(SheetText::Visit, "Wizyta", "Visit", M),
    TEXT_ROW(SheetText::Technician, "Technik", "Technician", M),
    TEXT_ROW(SheetText::Controller, "Sterownik", "Controller", M),
    TEXT_ROW(SheetText::ControllerValue, "ID %d, numer seryjny %d", "ID %d, serial number %d", "ID %d, %d"),
    TEXT_ROW(SheetText::Firmware, "Oprogramowanie", "Firmware", M),
    TEXT_ROW(SheetText::Changes, "Co zmieniono od wizyty %s", "What changed since the visit of %s", "... %s"),
    TEXT_ROW(SheetText::NoChanges, "Bez zmian w konfiguracji.", "No change to the configuration.", M),
    TEXT_ROW(SheetText::NoEarlier, "Brak wcześniejszej wizyty z odczytaną konfiguracją: nie ma z czym porównać.",
             "No earlier visit read the configuration: nothing to compare with.", M),
    TEXT_ROW(SheetText::Warnings, "Ostrzeżenia konfiguracji pozostałe po wizycie",
             "Configuration warnings left after the visit", M),
    TEXT_ROW(SheetText::NoWarnings, "Brak ostrzeżeń.", "No warning.", M),
    TEXT_ROW(SheetText::SignTechnician, "Technik (data, podpis)", "Technician (date, signature)", M),
    TEXT_ROW(SheetText::SignManager, "Zarządca budynku (data, podpis)", "Building manager (date, signature)", M),
    TEXT_ROW(SheetText::More, "… i jeszcze %d (pełna lista w rejestrze programu)",
             "… and %d more (the full list is in the program's register)", "… %d"),
    TEXT_ROW(SheetText::Footer, "Sporządzono %s programem %s.", "Made %s with %s.", "%s, %s."),
    TEXT_ROW(SheetText::Masked, "Kody i klucze zamaskowane (••••).", "Codes and keys masked (••••).", "(••••)"),
    TEXT_ROW(SheetText::Unnamed, "(bez nazwy)", "(no name)", M),
    TEXT_ROW(SheetText::Unknown, "nieznany", "unknown", M),
    TEXT_ROW(SheetText::RemotePort, "Port (serwis zdalny)", "Port (remote service)", M),
};
static_assert(rowsMatch(kSheet) && rowInPlace<misplacedRow(kSheet)>(), "one text for each SheetText");

constexpr Row<jobs::ReportFault> kFaults[] = {
    TEXT_ROW(jobs::ReportFault::None, "", "", ""),
    TEXT_ROW(jobs::ReportFault::NoSuchVisit, "Ten sterownik nie ma wizyty %s", "The controller has no visit %s", "... %s"),
    TEXT_ROW(jobs::ReportFault::NoImage, "Wizyta %s nie zachowała konfiguracji sterownika: nie ma czego opisać",
             "Visit %s kept no configuration of the controller: there is nothing to report", "... %s"),
    TEXT_ROW(jobs::ReportFault::Unreadable, "Konfiguracji wizyty %s nie da się otworzyć (inny klucz danych?)",
             "The configuration of visit %s cannot be opened (another data key?)", "... %s"),
};
static_assert(rowsMatch(kFaults, kReportFaultCount) && rowInPlace<misplacedRow(kFaults)>(),
              "one text for each ReportFault");

const char* sheet(SheetText s, int language) { return rowText(kSheet, s, language); }

std::string fill(const char* fmt, const std::string& a) {
    std::vector<char> buf(std::string(fmt).size() + a.size() + 32);
    std::snprintf(buf.data(), buf.size(), fmt, a.c_str());
    return buf.data();
}

std::string fill(const char* fmt, const std::string& a, const std::string& b) {
    std::vector<char> buf(std::string(fmt).size() + a.size() + b.size() + 32);
    std::snprintf(buf.data(), buf.size(), fmt, a.c_str(), b.c_str());
    return buf.data();
}

std::string fill(const char* fmt, int a, int b) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, a, b);
    return buf;
}

std::string when(const std::string& iso, int language) { return dateTimeText(parseStoredTime(iso), language); }

bool secretSetting(const std::string& number) {
    for (const Parameter& p : parameterTable())
        if (number == p.number) return isSecretByte(p.offset);
    return false;
}

}  // namespace

const char* reportText(ReportText text, int language) { return rowText(kTexts, text, language); }
const char* sheetText(SheetText text, int language) { return rowText(kSheet, text, language); }
const char* reportFaultFormat(jobs::ReportFault fault, int language) { return rowText(kFaults, fault, language); }

const char* textName(ReportText text) { return kTexts[static_cast<std::size_t>(text)].name; }
const char* textName(SheetText text) { return kSheet[static_cast<std::size_t>(text)].name; }
const char* textName(jobs::ReportFault fault) { return kFaults[static_cast<std::size_t>(fault)].name; }

std::string reportFaultText(jobs::ReportFault fault, const std::string& visit, int language) {
    return fill(reportFaultFormat(fault, language), visit);
}

LocalTime parseStoredTime(const std::string& iso) {
    LocalTime t;
    std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &t.year, &t.month, &t.day, &t.hour, &t.minute, &t.second);
    return t;
}

std::vector<Warning> maskedWarnings(std::vector<Warning> warnings) {
    for (Warning& w : warnings) {
        for (WarningItem& item : w.items)
            if (!item.value.empty()) item.value = kMaskedCode;
        if (!w.parameter.empty() && secretSetting(w.parameter)) {
            if (!w.stored.empty()) w.stored = kMaskedCode;
            if (!w.shown.empty()) w.shown = kMaskedCode;
        }
    }
    return warnings;
}

ReportSheet visitReportSheet(const jobs::VisitReport& report, int language, CodeView codes, const LocalTime& made,
                             const std::string& program) {
    ReportSheet s;
    const registry::Controller& c = report.controller;
    const registry::Visit& v = report.visit;
    s.title = sheet(SheetText::Title, language);
    s.facts = {
        {sheet(SheetText::Building, language), c.name.empty() ? sheet(SheetText::Unnamed, language) : c.name},
        {sheet(SheetText::Address, language), c.address.empty() ? "—" : c.address},
        {sheet(SheetText::VisitDate, language), when(v.time, language)},
        {sheet(SheetText::Visit, language),
         std::string(visitKindText(v.kind, language)) + ", " + outcomeText(v.outcome, language)},
        {sheet(SheetText::Technician, language), v.technician},
        {sheet(SheetText::Controller, language),
         c.key.known() ? fill(sheet(SheetText::ControllerValue, language), c.key.deviceId, c.key.serialNumber)
                       : sheet(SheetText::Unknown, language)},
    };
    const std::optional<int> firmware = v.firmware ? v.firmware : c.firmware;
    s.facts.emplace_back(sheet(SheetText::Firmware, language),
                         firmware ? std::to_string(*firmware) : sheet(SheetText::Unknown, language));
    // A visit made through a network gateway says through which, as given.
    if (link::isNetPortName(v.port)) s.facts.emplace_back(sheet(SheetText::RemotePort, language), v.port);

    ReportSection changes;
    if (report.previous) {
        changes.heading = fill(sheet(SheetText::Changes, language), when(report.previous->time, language));
        changes.none = sheet(SheetText::NoChanges, language);
        for (const ChangeGroup& g : describeChanges(report.changes, language, ChangeSides::BeforeAndAfter, codes)) {
            // Which blocks went over the line is the technician's business.
            if (g.kind == ChangeGroupKind::Upload) continue;
            for (const std::string& line : g.lines) changes.lines.push_back(g.title + ": " + line);
        }
    } else {
        changes.heading = fill(sheet(SheetText::Changes, language), "—");
        changes.none = sheet(SheetText::NoEarlier, language);
    }
    s.sections.push_back(std::move(changes));

    ReportSection warnings{sheet(SheetText::Warnings, language), {}, sheet(SheetText::NoWarnings, language)};
    const auto shown = codes == CodeView::Masked ? maskedWarnings(report.warnings) : report.warnings;
    for (const ChangeGroup& g : warningGroups(shown, language))
        warnings.lines.insert(warnings.lines.end(), g.lines.begin(), g.lines.end());
    s.sections.push_back(std::move(warnings));

    s.signatures = {sheet(SheetText::SignTechnician, language), sheet(SheetText::SignManager, language)};
    s.moreLines = sheet(SheetText::More, language);
    s.footer = fill(sheet(SheetText::Footer, language), dateTimeText(made, language), program);
    if (codes == CodeView::Masked) s.footer += std::string(" ") + sheet(SheetText::Masked, language);
    return s;
}

}  // namespace kelvane::texts
