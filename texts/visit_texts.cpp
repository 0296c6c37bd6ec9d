#include "texts/visit_texts.h"

#include "texts/company_texts.h"
#include "texts/language_table.h"
#include "texts/report_text.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace kelvane::texts {

namespace {

constexpr char M[] = "...";

// The words the programs store; registry/ and kvtool write nothing else.
struct Outcome {
    const char* word;
    Texts text;
};
// clang-format off
const Outcome kOutcomes[] = {
    {"completed", {"ukończono", "completed", M}},
    {"completed, configuration changed", {"ukończono, konfiguracja zmieniona", "completed, configuration changed", M}},
    {"cancelled", {"przerwano", "cancelled", M}},
    {"port error", {"błąd portu", "port error", M}},
    {"no answer", {"brak odpowiedzi", "no answer", M}},
    {"line busy", {"łącze zajęte", "line busy", M}},
    {"incomplete", {"niepełne", "incomplete", M}},
    {"backup failed", {"kopia nieudana", "backup failed", M}},
    {"programming error", {"błąd programowania", "programming error", M}},
    {"verify failed", {"weryfikacja nieudana", "verify failed", M}},
    {"restore failed", {"przywracanie nieudane", "restore failed", M}},
    {"unknown", {"nieznany", "unknown", M}},
};
// A flash names the versions before and after: ", firmware 259 -> 106".
constexpr char kFirmwareSuffix[] = ", firmware ";
const Texts kFirmware{", oprogramowanie %s → %s", ", firmware %s → %s", ", %s → %s"};
const char* const kEnglishMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// clang-format on

int checked(int language) { return language >= 0 && language < kLanguageCount ? language : kPolish; }

bool digitsOnly(const std::string& s) {
    return !s.empty() && s.size() <= 9 && s.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

std::string outcomeText(const std::string& stored, int language) {
    language = checked(language);
    // A report names the visit it describes: "report of visit 12".
    constexpr char kReportOf[] = "report of visit ";
    if (stored.rfind(kReportOf, 0) == 0 && digitsOnly(stored.substr(std::strlen(kReportOf))))
        return (language == kPolish ? "raport z wizyty " : "report of visit ") + stored.substr(std::strlen(kReportOf));
    std::string word = stored, suffix;
    if (const auto at = stored.find(kFirmwareSuffix); at != std::string::npos) {
        const std::string versions = stored.substr(at + std::strlen(kFirmwareSuffix));
        const auto arrow = versions.find(" -> ");
        if (arrow == std::string::npos) return stored;
        const std::string before = versions.substr(0, arrow), after = versions.substr(arrow + 4);
        if (!digitsOnly(before) || !digitsOnly(after)) return stored;
        char buf[96];
        std::snprintf(buf, sizeof buf, kFirmware[language], before.c_str(), after.c_str());
        word = stored.substr(0, at);
        suffix = buf;
    }
    for (const Outcome& o : kOutcomes)
        if (word == o.word) return o.text[language] + suffix;
    return stored;
}

const char* visitKindText(registry::VisitKind kind, int language) {
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

std::string dateText(const LocalTime& t, int language) {
    language = checked(language);
    const int month = t.month >= 1 && t.month <= 12 ? t.month : 1;
    char buf[48];
    if (language == kEnglish)
        std::snprintf(buf, sizeof buf, "%d %s %04d", t.day, kEnglishMonths[month - 1], t.year);
    else
        std::snprintf(buf, sizeof buf, "%d.%02d.%04d", t.day, month, t.year);
    return buf;
}

std::string dateTimeText(const LocalTime& t, int language) {
    char buf[16];
    std::snprintf(buf, sizeof buf, " %02d:%02d:%02d", t.hour, t.minute, t.second);
    return dateText(t, language) + buf;
}

namespace {
std::string filled(const char* format, const std::string& value) {
    std::string text = format;
    const auto at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, value);
    return text;
}
}  // namespace

std::string keyMissingText(const jobs::KeyNote& key, int language) {
    switch (key.missing) {
    case KeyMissing::KeyFileRefused: return filled(toolText(ToolText::KeyFileRefused, language), key.detail);
    case KeyMissing::CannotSeal: return toolText(ToolText::KeyCannotSeal, language);
    case KeyMissing::KeychainOff: return toolText(ToolText::KeychainOff, language);
    case KeyMissing::None:
    case KeyMissing::KeychainFailed: break;
    }
    return filled(toolText(ToolText::KeychainFailed, language), key.detail.empty() ? "-" : key.detail);
}

std::string imagesLeftOutText(jobs::ImagesLeftOut images, const jobs::KeyNote& key, int language) {
    switch (images) {
    case jobs::ImagesLeftOut::No: return {};
    case jobs::ImagesLeftOut::NoKey:
        return filled(toolText(ToolText::ImagesNoKey, language), keyMissingText(key, language));
    case jobs::ImagesLeftOut::OtherKey: return toolText(ToolText::ImagesOtherKey, language);
    }
    return {};
}

std::string notRecordedText(const jobs::VisitRecord& record, int language) {
    switch (record.recording) {
    case jobs::Recording::NotNeeded:
    case jobs::Recording::Recorded: return {};
    case jobs::Recording::NoIdentity:
        return filled(toolText(ToolText::VisitNotRecorded, language), toolText(ToolText::NoIdentity, language));
    case jobs::Recording::Failed: break;
    }
    return filled(toolText(ToolText::VisitNotRecorded, language), record.recordError);
}

}  // namespace kelvane::texts

namespace kelvane::texts {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::string word;
    for (char c : text) {
        if (!isSpace(c)) {
            word += c;
        } else if (!word.empty()) {
            out.push_back(word);
            word.clear();
        }
    }
    if (!word.empty()) out.push_back(word);
    return out;
}

// The first character of a UTF-8 word, with all its bytes.
std::string firstCharacter(const std::string& word) {
    std::size_t n = 1;
    while (n < word.size() && (static_cast<unsigned char>(word[n]) & 0xC0) == 0x80) ++n;
    return word.substr(0, n);
}

// The words joined by single spaces.
std::string joined(const std::vector<std::string>& w) {
    std::string out;
    for (const std::string& word : w) out += (out.empty() ? "" : " ") + word;
    return out;
}

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string withNumber(const char* format, int n) {
    char buf[160];
    std::snprintf(buf, sizeof buf, format, n);
    return buf;
}

std::string withText(const char* format, const std::string& value) {
    char buf[512];
    std::snprintf(buf, sizeof buf, format, value.c_str());
    return buf;
}

// Polish counts take three forms: 1 wizyta, 2-4 wizyty (not 12-14), 5 wizyt.
Message waitingForm(int n) {
    if (n == 1) return Message::CompanyWaitingOne;
    const int tens = n % 100, units = n % 10;
    if (units >= 2 && units <= 4 && (tens < 12 || tens > 14)) return Message::CompanyWaitingFew;
    return Message::CompanyWaitingMany;
}

}  // namespace

std::string shortPersonName(const std::string& name) {
    const std::vector<std::string> w = words(name);
    if (w.empty()) return {};
    if (w.size() == 1) return w.front();
    return w.front() + " " + firstCharacter(w.back()) + ".";
}

std::string visitDateWithWho(const std::string& date, const std::string& technician, const std::string& me) {
    const std::vector<std::string> who = words(technician);
    if (who.empty() || lowerAscii(joined(who)) == lowerAscii(joined(words(me)))) return date;
    return date + " (" + shortPersonName(technician) + ")";
}

std::string companyRegisterText(const CompanyRegisterState& s, const LocalTime& now, int language) {
    if (!s.serverSet) return {};
    const auto text = [language](Message m) { return messageText(m, language); };
    const std::string unverified = s.notVerified ? std::string(" — ") + text(Message::CompanyNotVerified) : std::string();
    if (s.running) return text(Message::CompanySyncing) + unverified;
    std::string out;
    // a state that says why on its own
    using registry::ServerProblem;
    const ServerProblem problem = s.failure.problem;
    const bool readOnly = problem == ServerProblem::ReadOnly, busy = problem == ServerProblem::Busy;
    const bool noRoot = problem == ServerProblem::NoRootCertificate;
    const bool told = s.noDriver || s.offline || readOnly || busy || noRoot || !s.registerError.empty() ||
                      problem == ServerProblem::NoDriver || problem == ServerProblem::Cancelled;
    if (s.noDriver) {
        out = text(Message::CompanyNoDriver);
    } else if (!s.registerError.empty()) {
        out = withText(text(Message::CompanyRegisterUnreadable), s.registerError);
    } else if (noRoot) {
        out = withText(text(Message::CompanyNoRootCertificate), s.failure.detail);
    } else if (readOnly || busy) {
        out = text(readOnly ? Message::CompanyReadOnly : Message::CompanyBusy);
    } else if (s.offline) {
        out = text(Message::CompanyOffline);
    } else if (s.lastSync) {
        char time[8];
        std::snprintf(time, sizeof time, "%02d:%02d", s.lastSync->hour, s.lastSync->minute);
        const LocalTime& t = *s.lastSync;
        const bool today = t.year == now.year && t.month == now.month && t.day == now.day;
        out = withText(text(Message::CompanySynchronised), today ? time : dateText(t, language) + " " + time);
    } else {
        out = text(Message::CompanyNotYetSynced);
    }
    if (!told && s.failure)
        out += " — " + withText(text(Message::CompanySyncFailed), serverReasonText(s.failure, language));
    if (s.waiting > 0) out += " — " + withNumber(text(waitingForm(s.waiting)), s.waiting);
    if (!s.noDriver) out += unverified;
    return out;
}

}  // namespace kelvane::texts
