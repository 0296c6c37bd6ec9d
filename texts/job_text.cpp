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

constexpr const char M[] = "...";

constexpr Row<JobStep> kStepNames[] = {
    TEXT_ROW(JobStep::Identify, "Identyfikacja", "Identification", M),
    TEXT_ROW(JobStep::Backup, "Kopia konfiguracji", "Configuration backup", M),
    TEXT_ROW(JobStep::Flash, "Programowanie", "Programming", M),
    TEXT_ROW(JobStep::Return, "Powr\u00F3t sterownika", "Controller back", M),
    TEXT_ROW(JobStep::Verify, "Weryfikacja", "Verification", M),
    TEXT_ROW(JobStep::Restore, "Przywracanie", "Restore", M),
};
static_assert(rowsMatch(kStepNames, jobs::kJobSteps) && rowInPlace<misplacedRow(kStepNames)>(), "a name for each JobStep");

// The word for "left out", agreeing with the step's name.
constexpr Row<JobStep> kSkipped[] = {
    TEXT_ROW(JobStep::Identify, "pomini\u0119ta", "skipped", M),
    TEXT_ROW(JobStep::Backup, "pomini\u0119ta", "skipped", M),
    TEXT_ROW(JobStep::Flash, "pomini\u0119te", "skipped", M),
    TEXT_ROW(JobStep::Return, "pomini\u0119ty", "skipped", M),
    TEXT_ROW(JobStep::Verify, "pomini\u0119ta", "skipped", M),
    TEXT_ROW(JobStep::Restore, "pomini\u0119te", "skipped", M),
};
static_assert(rowsMatch(kSkipped, jobs::kJobSteps) && rowInPlace<misplacedRow(kSkipped)>(), "a word for each JobStep");

// Causes; %1 and %2 take the outcome's numbers as each row says.
constexpr Row<StepCause> kCauses[] = {
    TEXT_ROW(StepCause::None, "", "", ""),
    TEXT_ROW(StepCause::PortNotOpened, "port si\u0119 nie otworzy\u0142", "the port did not open", M),
    TEXT_ROW(StepCause::NoAnswer, "sterownik nie odpowiada", "the controller does not answer", M),
    TEXT_ROW(StepCause::LineBusy, "sterownik ci\u0105gle nadaje", "the controller keeps sending", M),
    TEXT_ROW(StepCause::NoFrame, "brak ramki przez %1 s przy bloku %2", "no frame for %1 s at block %2",
             "... %1, %2"),  // seconds, block
    TEXT_ROW(StepCause::TooLong, "pobieranie trwa\u0142o ponad %1 s", "the download took over %1 s", "... %1"),
    TEXT_ROW(StepCause::BlocksMissing, "brak %1 blok\u00F3w", "%1 blocks missing", "... %1"),
    TEXT_ROW(StepCause::NoAcknowledge, "brak potwierdzenia bloku %2 przez %1 s",
             "no acknowledgement of block %2 for %1 s", "... %2, %1"),  // seconds, block
    TEXT_ROW(StepCause::BackupNotKept, "nie mo\u017Cna zapisa\u0107 kopii", "the backup could not be written", M),
    TEXT_ROW(StepCause::WrongDevice, "z\u0142y typ urz\u0105dzenia", "wrong device type", M),
    TEXT_ROW(StepCause::ProgrammingError, "b\u0142\u0105d programowania, kod %1", "programming error, code %1", "... %1"),
    TEXT_ROW(StepCause::NotBack, "brak odpowiedzi przez %1 s po programowaniu", "no answer for %1 s after the flash",
             "... %1"),  // seconds
    TEXT_ROW(StepCause::SkippedByUser, "na \u017Cyczenie (Esc)", "on request (Esc)", M),
    TEXT_ROW(StepCause::NotWanted, "z wyboru", "by choice", M),
    TEXT_ROW(StepCause::NoBackup, "brak kopii do por\u00F3wnania", "no backup to compare with", M),
    TEXT_ROW(StepCause::NotIdentified, "sterownik nie odpowiada\u0142 przed programowaniem",
             "the controller did not answer before the flash", M),
    TEXT_ROW(StepCause::FromBootloader, "sterownik by\u0142 w trybie bootloadera",
             "the controller was in its bootloader", M),
    TEXT_ROW(StepCause::Stalled, "brak odpowiedzi przez %1 s", "no answer for %1 s", "... %1"),  // seconds
    TEXT_ROW(StepCause::OtherController, "to inny sterownik ni\u017C ten, z kt\u00F3rego jest kopia: nic nie wys\u0142ano",
             "another controller than the one the backup is of: nothing was sent", M),
};
static_assert(rowsMatch(kCauses, kStepCauseCount) && rowInPlace<misplacedRow(kCauses)>(), "a text for each StepCause");

constexpr Row<NextStep> kNext[] = {
    TEXT_ROW(NextStep::None, "", "", ""),
    TEXT_ROW(NextStep::Retry, "Spr\u00F3buj ponownie.", "Try again.", M),
    TEXT_ROW(NextStep::SkipBackup, "Spr\u00F3buj ponownie albo pomi\u0144 kopi\u0119 konfiguracji (gdy masz aktualn\u0105).",
             "Try again, or skip the configuration backup (when you have a current one).", M),
    TEXT_ROW(NextStep::CheckConnection, "Sprawd\u017A kabel, port i zasilanie sterownika, potem spr\u00F3buj ponownie.",
             "Check the cable, the port and the controller's power, then try again.", M),
    TEXT_ROW(NextStep::FlashAgain, "Sterownik mo\u017Ce czeka\u0107 w trybie bootloadera: zaprogramuj go ponownie.",
             "The controller may wait in its bootloader: flash it again.", M),
    TEXT_ROW(NextStep::Restore, "Przywr\u00F3\u0107 konfiguracj\u0119 z kopii.",
             "Restore the configuration from the backup.", M),
    TEXT_ROW(NextStep::CheckConfiguration,
             "Konfiguracja nie zosta\u0142a sprawdzona po programowaniu: odczytaj j\u0105 i sprawd\u017A.",
             "The configuration was not verified after the flash: read it and check it.", M),
};
static_assert(rowsMatch(kNext, kNextStepCount) && rowInPlace<misplacedRow(kNext)>(), "a text for each NextStep");

constexpr Row<JobText> kJob[] = {
    TEXT_ROW(JobText::ConfigurationAsBefore, "Konfiguracja taka sama jak przed programowaniem.",
             "The configuration is as it was before the flash.", M),
    TEXT_ROW(JobText::NewFirmware, " (nowa: %1)", " (new: %1)", " (%1)"),
};
static_assert(rowsMatch(kJob) && rowInPlace<misplacedRow(kJob)>(), "a text for each JobText");

std::string fill(const std::string& text, const std::string& first, const std::string& second) {
    return filled(text, {first, second});
}

}  // namespace

std::string stepName(JobStep step, int language) { return rowText(kStepNames, step, language); }

std::string stepStateWord(JobStep step, StepState state, int language) {
    switch (state) {
    case StepState::Done: return "\u2713";
    case StepState::Failed: return "\u2717";
    case StepState::Skipped: return rowText(kSkipped, step, language);
    case StepState::Running: return "\u2026";
    case StepState::NotReached: break;
    }
    return {};
}

std::string stepCause(const jobs::StepOutcome& outcome, int language) {
    if (outcome.cause == StepCause::None) return {};
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
    std::string text = fill(rowText(kCauses, outcome.cause, language), first, second);
    if (outcome.cause == StepCause::PortNotOpened && language == kPolish) {
        const std::string why = upgrade::openFailureDetail(outcome.openFailure, false);
        if (!why.empty()) text += ": " + why;
    }
    return text;
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

std::string nextStepText(NextStep next, int language) { return rowText(kNext, next, language); }

std::string configurationAsBefore(int language) { return jobText(JobText::ConfigurationAsBefore, language); }

std::string firmwareVersions(int before, int after, int language) {
    std::string text = "FV: " + std::to_string(before);
    if (after >= 0 && after != before) text += fill(jobText(JobText::NewFirmware, language), std::to_string(after), {});
    return text;
}

const char* stepNameText(JobStep step, int language) { return rowText(kStepNames, step, language); }
const char* skippedText(JobStep step, int language) { return rowText(kSkipped, step, language); }
const char* stepCauseText(StepCause cause, int language) { return rowText(kCauses, cause, language); }
const char* nextStepFormat(NextStep next, int language) { return rowText(kNext, next, language); }
const char* jobText(JobText text, int language) { return rowText(kJob, text, language); }

const char* textName(JobStep step) { return kStepNames[static_cast<std::size_t>(step)].name; }
const char* textName(StepCause cause) { return kCauses[static_cast<std::size_t>(cause)].name; }
const char* textName(NextStep next) { return kNext[static_cast<std::size_t>(next)].name; }
const char* textName(JobText text) { return kJob[static_cast<std::size_t>(text)].name; }

}  // namespace kelvane::texts
