#pragma once
// How the building register's visits read in a language: the outcome the
// register keeps as a word, and the dates and times shown with visits.
#include "registry/company_results.h"
#include "jobs/read_visit.h"

#include <optional>
#include <string>

namespace kelvane::texts {

// A visit's outcome as the register keeps it ("completed", "backup failed",
// "completed, firmware 259 -> 106") in a language. A word outside the known
// set is shown as stored.
std::string outcomeText(const std::string& stored, int language);
// A visit's kind in a language: "pobranie", "download".
const char* visitKindText(registry::VisitKind kind, int language);

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

namespace kelvane::texts {

// A technician as a visit names a colleague: "Jan Kowalski" → "Jan K."; one
// word (a login name) stays as it is.
std::string shortPersonName(const std::string& name);
// The date of an earlier visit as "since the visit of ..." shows it: with the
// technician in brackets ("3.11.2026 (Jan K.)") when the visit was not made by
// `me`, the technician of this program.
std::string visitDateWithWho(const std::string& date, const std::string& technician, const std::string& me);

// The company register's state as the status bar and the Register window
// show it.
struct CompanyRegisterState {
    bool serverSet = false;             // nothing is shown without a server
    bool running = false;               // a sync is under way
    bool offline = false;               // the last try reached no server
    std::optional<LocalTime> lastSync;  // when the last sync finished
    int waiting = 0;                    // visits recorded here and not yet on the server
    registry::ServerReason failure;     // why the last sync did not finish (a read-only server, another
                                        // laptop's push, a missing CA file... say so on their own)
    bool noDriver = false;              // this build cannot reach any server
    bool notVerified = false;           // the string leaves the server's certificate unchecked
    std::string registerError{};        // the laptop's own register file could not be opened: why
};
// "Rejestr firmy: zsynchronizowano 10:42", "Company register: offline — 3
// visits waiting"; the date too when the sync was not on the day of `now`;
// empty when no server is set.
std::string companyRegisterText(const CompanyRegisterState& state, const LocalTime& now, int language);

}  // namespace kelvane::texts
