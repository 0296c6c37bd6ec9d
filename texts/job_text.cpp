#include "texts/job_text.h"

#include "texts/language_table.h"
#include "texts/upgrade_texts.h"

#include <cstdio>

namespace kelvane::texts {

namespace {

using jobs::JobStep;
using jobs::NextStep;
using jobs::StepCause;
using jobs::StepState;

// One row a step: its name and the word for "left out", agreeing with it.
struct StepRow {
    const char* name[2];
    const char* skipped[2];
};
constexpr StepRow kSteps[] = {
    {{"Identyfikacja", "Identification"}, {"pomini\u0119ta", "skipped"}},
    {{"Kopia konfiguracji", "Configuration backup"}, {"pomini\u0119ta", "skipped"}},
    {{"Programowanie", "Programming"}, {"pomini\u0119te", "skipped"}},
    {{"Powr\u00F3t sterownika", "Controller back"}, {"pomini\u0119ty", "skipped"}},
    {{"Weryfikacja", "Verification"}, {"pomini\u0119ta", "skipped"}},
    {{"Przywracanie", "Restore"}, {"pomini\u0119te", "skipped"}},
};

// Causes; %1 and %2 take the outcome's numbers as each row says.
struct CauseRow {
    StepCause cause;
    const char* text[2];
};
constexpr CauseRow kCauses[] = {
    {StepCause::PortNotOpened, {"port si\u0119 nie otworzy\u0142", "the port did not open"}},
    {StepCause::NoAnswer, {"sterownik nie odpowiada", "the controller does not answer"}},
    {StepCause::LineBusy, {"sterownik ci\u0105gle nadaje", "the controller keeps sending"}},
    {StepCause::NoFrame, {"brak ramki przez %1 s przy bloku %2", "no frame for %1 s at block %2"}},  // seconds, block
    {StepCause::TooLong, {"pobieranie trwa\u0142o ponad %1 s", "the download took over %1 s"}},      // seconds
    {StepCause::BlocksMissing, {"brak %1 blok\u00F3w", "%1 blocks missing"}},                        // missing
    {StepCause::NoAcknowledge,
     {"brak potwierdzenia bloku %2 przez %1 s", "no acknowledgement of block %2 for %1 s"}},  // seconds, block
    {StepCause::BackupNotKept, {"nie mo\u017Cna zapisa\u0107 kopii", "the backup could not be written"}},
    {StepCause::WrongDevice, {"z\u0142y typ urz\u0105dzenia", "wrong device type"}},
    {StepCause::ProgrammingError, {"b\u0142\u0105d programowania, kod %1", "programming error, code %1"}},
    {StepCause::NotBack, {"brak odpowiedzi przez %1 s po programowaniu", "no answer for %1 s after the flash"}},  // seconds
    {StepCause::SkippedByUser, {"na \u017Cyczenie (Esc)", "on request (Esc)"}},
    {StepCause::NotWanted, {"z wyboru", "by choice"}},
    {StepCause::NoBackup, {"brak kopii do por\u00F3wnania", "no backup to compare with"}},
    {StepCause::NotIdentified,
     {"sterownik nie odpowiada\u0142 przed programowaniem", "the controller did not answer before the flash"}},
    {StepCause::FromBootloader, {"sterownik by\u0142 w trybie bootloadera", "the controller was in its bootloader"}},
};

struct NextRow {
    NextStep next;
    const char* text[2];
};
constexpr NextRow kNext[] = {
    {NextStep::Retry, {"Spr\u00F3buj ponownie.", "Try again."}},
    {NextStep::SkipBackup,
     {"Spr\u00F3buj ponownie albo pomi\u0144 kopi\u0119 konfiguracji (gdy masz aktualn\u0105).",
      "Try again, or skip the configuration backup (when you have a current one)."}},
    {NextStep::CheckConnection,
     {"Sprawd\u017A kabel, port i zasilanie sterownika, potem spr\u00F3buj ponownie.",
      "Check the cable, the port and the controller's power, then try again."}},
    {NextStep::FlashAgain,
     {"Sterownik mo\u017Ce czeka\u0107 w trybie bootloadera: zaprogramuj go ponownie.",
      "The controller may wait in its bootloader: flash it again."}},
    {NextStep::Restore, {"Przywr\u00F3\u0107 konfiguracj\u0119 z kopii.", "Restore the configuration from the backup."}},
    {NextStep::CheckConfiguration,
     {"Konfiguracja nie zosta\u0142a sprawdzona po programowaniu: odczytaj j\u0105 i sprawd\u017A.",
      "The configuration was not verified after the flash: read it and check it."}},
};

int column(int language) { return language == kPolish ? 0 : 1; }

std::string fill(std::string text, const std::string& first, const std::string& second) {
    for (const auto& [mark, value] : {std::pair<const char*, const std::string&>{"%1", first}, {"%2", second}}) {
        const auto at = text.find(mark);
        if (at != std::string::npos) text.replace(at, 2, value);
    }
    return text;
}

}  // namespace

std::string stepName(JobStep step, int language) {
    return kSteps[static_cast<std::size_t>(step)].name[column(language)];
}

std::string stepStateWord(JobStep step, StepState state, int language) {
    switch (state) {
    case StepState::Done: return "\u2713";
    case StepState::Failed: return "\u2717";
    case StepState::Skipped: return kSteps[static_cast<std::size_t>(step)].skipped[column(language)];
    case StepState::Running: return "\u2026";
    case StepState::NotReached: break;
    }
    return {};
}

std::string stepCause(const jobs::StepOutcome& outcome, int language) {
    for (const CauseRow& row : kCauses) {
        if (row.cause != outcome.cause) continue;
        std::string first, second;
        switch (outcome.cause) {
        case StepCause::BlocksMissing: first = std::to_string(outcome.missing); break;
        case StepCause::ProgrammingError: {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", outcome.programResult & 0xFF);
            first = code;
            break;
        }
        default: first = std::to_string(outcome.seconds); second = std::to_string(outcome.block);
        }
        std::string text = fill(row.text[column(language)], first, second);
        if (outcome.cause == StepCause::PortNotOpened && language == kPolish) {
            const std::string why = upgrade::openFailureDetail(outcome.openFailure, false);
            if (!why.empty()) text += ": " + why;
        }
        return text;
    }
    return {};
}

std::string stepLine(JobStep step, const jobs::StepOutcome& outcome, int language) {
    std::string line = stepName(step, language);
    const std::string word = stepStateWord(step, outcome.state, language);
    if (outcome.state == StepState::Skipped)
        line += ": " + word;
    else if (!word.empty())
        line += " " + word;
    const std::string cause = stepCause(outcome, language);
    if (!cause.empty() && outcome.state != StepState::Done && outcome.cause != StepCause::NotWanted)
        line += outcome.state == StepState::Skipped ? " (" + cause + ")" : " " + cause;
    return line;
}

std::string nextStepText(NextStep next, int language) {
    for (const NextRow& row : kNext)
        if (row.next == next) return row.text[column(language)];
    return {};
}

std::string configurationAsBefore(int language) {
    return language == kPolish ? "Konfiguracja taka sama jak przed programowaniem."
                               : "The configuration is as it was before the flash.";
}

std::string firmwareVersions(int before, int after, int language) {
    std::string text = "FV: " + std::to_string(before);
    if (after >= 0 && after != before)
        text += (language == kPolish ? " (nowa: " : " (new: ") + std::to_string(after) + ")";
    return text;
}

}  // namespace kelvane::texts
