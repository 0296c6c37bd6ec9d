#pragma once
// The visit report (jobs/visit_report.h) in a language: the sheet's title,
// facts, the changes and warnings in words, the lines to sign; and the texts
// of the commands that make it.
#include "files/report_sheet.h"
#include "jobs/visit_report.h"
#include "texts/change_text.h"
#include "texts/visit_texts.h"

#include <string>

namespace kelvane::texts {

// `made`: when the report is written, and `program`: the program that wrote
// it (its footer). Codes in the changes and warnings are "••••" unless
// `codes` is Shown.
ReportSheet visitReportSheet(const jobs::VisitReport& report, int language, CodeView codes, const LocalTime& made,
                             const std::string& program);

// The warnings with every code, key and password they quote as "••••".
std::vector<Warning> maskedWarnings(std::vector<Warning> warnings);

enum class ReportText {
    Command,      // "Raport z wizyty…": the Register window's button and the notice's link
    Question,     // asked first: the codes masked or shown
    Masked,       // its answer: codes as ••••
    Shown,        // its answer: codes in plain
    Cancel,       // its answer: no report
    SaveTitle,    // the save dialog's title
    Written,      // "%s": the report's file
    NotRecorded,  // "%s": why the register did not note the report
    KindName,     // a visit of kind Report in the register's list
    Offer,        // the notice after an upload: the report can be made now
    FileName,     // the file name offered: "%s" the serial number, "%s" the visit's date (yyyy-MM-dd)
};
const char* reportText(ReportText text, int language);

// Why there is no report of the visit: "%s" the visit as given.
std::string reportFaultText(jobs::ReportFault fault, const std::string& visit, int language);

// A stored ISO 8601 local time ("2026-12-09T10:15:00+01:00"); the fields
// that cannot be read stay as LocalTime has them.
LocalTime parseStoredTime(const std::string& iso);

}  // namespace kelvane::texts
