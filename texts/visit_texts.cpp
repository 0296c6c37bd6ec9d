#include "texts/visit_texts.h"

#include "texts/language_table.h"

#include <cstdio>
#include <cstring>

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
