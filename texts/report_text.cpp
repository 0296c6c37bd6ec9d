#include "texts/report_text.h"

#include "image/parameters.h"
#include "link/net_port.h"
#include "image/secret_mask.h"
#include "texts/configuration_warnings.h"
#include "texts/language_table.h"

#include <cstdio>

namespace kelvane::texts {

namespace {

using Pair = const char* [2];  // Polish, English

int pick(int language) { return language == kEnglish ? 1 : 0; }

// In the order of ReportText.
const Pair kTexts[] = {
    {"Raport z wizyty…", "Visit report…"},
    {"Raport z wizyty dla zarządcy budynku: kody lokatorów, kody ogólne i klucze zamaskować (••••) czy pokazać?",
     "The visit report for the building manager: mask the residents' codes, general codes and keys (••••) or "
     "show them?"},
    {"Zamaskuj kody", "Mask the codes"},
    {"Pokaż kody", "Show the codes"},
    {"Anuluj", "Cancel"},
    {"Zapisz raport z wizyty", "Save the visit report"},
    {"Raport zapisany: %s", "Report saved: %s"},
    {"Rejestr nie zapisał raportu: %s", "The register did not note the report: %s"},
    {"raport", "report"},
    {"Wysłano do sterownika. Raport z wizyty dla zarządcy budynku:",
     "Sent to the controller. The visit report for the building manager:"},
    {"raport-%s-%s.pdf", "report-%s-%s.pdf"},
};
static_assert(sizeof kTexts / sizeof kTexts[0] == static_cast<int>(ReportText::FileName) + 1,
              "one text for each report text");

// The sheet's own words.
enum class Sheet {
    Title,
    Building,
    Address,
    VisitDate,
    Visit,
    Technician,
    Controller,
    ControllerValue,  // "%d" ID, "%d" serial number
    Firmware,
    Changes,  // "%s": the earlier visit's date and time
    NoChanges,
    NoEarlier,
    Warnings,
    NoWarnings,
    SignTechnician,
    SignManager,
    More,    // "%d" lines left out
    Footer,  // "%s" when made, "%s" the program
    Masked,
    Unnamed,
    Unknown,
    RemotePort,
};
const Pair kSheet[] = {
    {"Raport z wizyty serwisowej", "Service visit report"},
    {"Budynek", "Building"},
    {"Adres", "Address"},
    {"Data wizyty", "Date of the visit"},
    {"Wizyta", "Visit"},
    {"Technik", "Technician"},
    {"Sterownik", "Controller"},
    {"ID %d, numer seryjny %d", "ID %d, serial number %d"},
    {"Oprogramowanie", "Firmware"},
    {"Co zmieniono od wizyty %s", "What changed since the visit of %s"},
    {"Bez zmian w konfiguracji.", "No change to the configuration."},
    {"Brak wcześniejszej wizyty z odczytaną konfiguracją: nie ma z czym porównać.",
     "No earlier visit read the configuration: nothing to compare with."},
    {"Ostrzeżenia konfiguracji pozostałe po wizycie", "Configuration warnings left after the visit"},
    {"Brak ostrzeżeń.", "No warning."},
    {"Technik (data, podpis)", "Technician (date, signature)"},
    {"Zarządca budynku (data, podpis)", "Building manager (date, signature)"},
    {"… i jeszcze %d (pełna lista w rejestrze programu)", "… and %d more (the full list is in the program's register)"},
    {"Sporządzono %s programem %s.", "Made %s with %s."},
    {"Kody i klucze zamaskowane (••••).", "Codes and keys masked (••••)."},
    {"(bez nazwy)", "(no name)"},
    {"nieznany", "unknown"},
    {"Port (serwis zdalny)", "Port (remote service)"},
};
static_assert(sizeof kSheet / sizeof kSheet[0] == static_cast<int>(Sheet::RemotePort) + 1, "one text for each");

const char* sheet(Sheet s, int language) { return kSheet[static_cast<int>(s)][pick(language)]; }

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

const char* kindText(registry::VisitKind kind, int language) {
    switch (kind) {
    case registry::VisitKind::Download: return messageText(Message::VisitDownload, language);
    case registry::VisitKind::Upload: return messageText(Message::VisitUpload, language);
    case registry::VisitKind::Check: return messageText(Message::VisitCheck, language);
    case registry::VisitKind::Flash: return messageText(Message::VisitFlash, language);
    case registry::VisitKind::Backup: return messageText(Message::VisitBackup, language);
    case registry::VisitKind::Report: return reportText(ReportText::KindName, language);
    }
    return "";
}

bool secretSetting(const std::string& number) {
    for (const Parameter& p : parameterTable())
        if (number == p.number) return isSecretByte(p.offset);
    return false;
}

}  // namespace

const char* reportText(ReportText text, int language) { return kTexts[static_cast<int>(text)][pick(language)]; }

std::string reportFaultText(jobs::ReportFault fault, const std::string& visit, int language) {
    const Pair kFaults[] = {
        {"", ""},
        {"Ten sterownik nie ma wizyty %s", "The controller has no visit %s"},
        {"Wizyta %s nie zachowała konfiguracji sterownika: nie ma czego opisać",
         "Visit %s kept no configuration of the controller: there is nothing to report"},
        {"Konfiguracji wizyty %s nie da się otworzyć (inny klucz danych?)",
         "The configuration of visit %s cannot be opened (another data key?)"},
    };
    return fill(kFaults[static_cast<int>(fault)][pick(language)], visit);
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
    s.title = sheet(Sheet::Title, language);
    s.facts = {
        {sheet(Sheet::Building, language), c.name.empty() ? sheet(Sheet::Unnamed, language) : c.name},
        {sheet(Sheet::Address, language), c.address.empty() ? "—" : c.address},
        {sheet(Sheet::VisitDate, language), when(v.time, language)},
        {sheet(Sheet::Visit, language), std::string(kindText(v.kind, language)) + ", " + outcomeText(v.outcome, language)},
        {sheet(Sheet::Technician, language), v.technician},
        {sheet(Sheet::Controller, language),
         c.key.known() ? fill(sheet(Sheet::ControllerValue, language), c.key.deviceId, c.key.serialNumber)
                       : sheet(Sheet::Unknown, language)},
    };
    const std::optional<int> firmware = v.firmware ? v.firmware : c.firmware;
    s.facts.emplace_back(sheet(Sheet::Firmware, language),
                         firmware ? std::to_string(*firmware) : sheet(Sheet::Unknown, language));
    // A visit made through a network gateway says through which, as given.
    if (link::isNetPortName(v.port)) s.facts.emplace_back(sheet(Sheet::RemotePort, language), v.port);

    ReportSection changes;
    if (report.previous) {
        changes.heading = fill(sheet(Sheet::Changes, language), when(report.previous->time, language));
        changes.none = sheet(Sheet::NoChanges, language);
        for (const ChangeGroup& g : describeChanges(report.changes, language, ChangeSides::BeforeAndAfter, codes)) {
            // Which blocks went over the line is the technician's business.
            if (g.kind == ChangeGroupKind::Upload) continue;
            for (const std::string& line : g.lines) changes.lines.push_back(g.title + ": " + line);
        }
    } else {
        changes.heading = fill(sheet(Sheet::Changes, language), "—");
        changes.none = sheet(Sheet::NoEarlier, language);
    }
    s.sections.push_back(std::move(changes));

    ReportSection warnings{sheet(Sheet::Warnings, language), {}, sheet(Sheet::NoWarnings, language)};
    const auto shown = codes == CodeView::Masked ? maskedWarnings(report.warnings) : report.warnings;
    for (const ChangeGroup& g : warningGroups(shown, language))
        warnings.lines.insert(warnings.lines.end(), g.lines.begin(), g.lines.end());
    s.sections.push_back(std::move(warnings));

    s.signatures = {sheet(Sheet::SignTechnician, language), sheet(Sheet::SignManager, language)};
    s.moreLines = sheet(Sheet::More, language);
    s.footer = fill(sheet(Sheet::Footer, language), dateTimeText(made, language), program);
    if (codes == CodeView::Masked) s.footer += std::string(" ") + sheet(Sheet::Masked, language);
    return s;
}

}  // namespace kelvane::texts
