#pragma once
// How the building register's visits read in a language: the outcome the
// register keeps as a word, and the dates and times shown with visits.
#include "jobs/read_visit.h"

#include <string>

namespace kelvane::texts {

// A visit's outcome as the register keeps it ("completed", "backup failed",
// "completed, firmware 259 -> 106") in a language. A word outside the known
// set is shown as stored.
std::string outcomeText(const std::string& stored, int language);

// A local date and time as read from the register or a clock.
struct LocalTime {
    int year = 0, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0;
};
// One format per language: "9.12.2026" in Polish, "9 Dec 2026" in English;
// with the time "9.12.2026 11:14:05" and "9 Dec 2026 11:14:05".
std::string dateText(const LocalTime& time, int language);
std::string dateTimeText(const LocalTime& time, int language);

// Why there is no data key ("the keychain is switched off ...").
std::string keyMissingText(const jobs::KeyNote& key, int language);
// The note that visits are recorded without images; empty when they are not.
std::string imagesLeftOutText(jobs::ImagesLeftOut images, const jobs::KeyNote& key, int language);
// "Visit not recorded in the register: ..."; empty when it was (or no register is kept).
std::string notRecordedText(const jobs::VisitRecord& record, int language);

}  // namespace kelvane::texts
