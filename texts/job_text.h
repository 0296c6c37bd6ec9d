#pragma once
// The firmware job's results in a language: the steps' names, why a step
// failed or was left out, and what to do next. Orva_Upgrade's window shows
// them in Polish, kvtool in its language.
#include "jobs/flash_job.h"

#include <string>

namespace kelvane::texts {

std::string stepName(jobs::JobStep step, int language);
// The state after the name: "✓", "✗", "pominięta" (agreeing with the name).
std::string stepStateWord(jobs::JobStep step, jobs::StepState state, int language);
// Why the step failed or was left out ("brak ramki przez 10 s przy bloku
// 211"); empty when there is nothing to say.
std::string stepCause(const jobs::StepOutcome& outcome, int language);
// "Kopia konfiguracji: pominięta", "Kopia konfiguracji ✗ brak ramki ...".
std::string stepLine(jobs::JobStep step, const jobs::StepOutcome& outcome, int language);
// What to do next; empty for NextStep::None.
std::string nextStepText(jobs::NextStep next, int language);
// After a verified flash: the configuration read back equals the backup.
std::string configurationAsBefore(int language);
// The controller's firmware before and after the flash, read as two
// versions rather than as a count going down: "FV: 259 (po: 106)".
std::string firmwareVersions(int before, int after, int language);

// The tables the texts above are made from, keyed like the language table
// (TEXT_ROW(StepCause::NoFrame, ...)); "%1" and "%2" take the numbers.
constexpr std::size_t kStepCauseCount = static_cast<std::size_t>(jobs::StepCause::OtherController) + 1;
constexpr std::size_t kNextStepCount = static_cast<std::size_t>(jobs::NextStep::CheckConfiguration) + 1;
enum class JobText { ConfigurationAsBefore, NewFirmware, Count };
const char* stepNameText(jobs::JobStep step, int language);
const char* skippedText(jobs::JobStep step, int language);  // the step's word for "left out"
const char* stepCauseText(jobs::StepCause cause, int language);
const char* nextStepFormat(jobs::NextStep next, int language);
const char* jobText(JobText text, int language);
// The names the rows are written with: "StepCause::NoFrame".
const char* textName(jobs::JobStep step);
const char* textName(jobs::StepCause cause);
const char* textName(jobs::NextStep next);
const char* textName(JobText text);

}  // namespace kelvane::texts
