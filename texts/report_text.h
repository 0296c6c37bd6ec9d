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
    Count         // not a text: how many there are
};
const char* reportText(ReportText text, int language);

// The sheet's own words.
enum class SheetText {
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
    RemotePort,  // a visit through a network gateway
    Count        // not a text: how many there are
};
const char* sheetText(SheetText text, int language);

constexpr std::size_t kReportFaultCount = static_cast<std::size_t>(jobs::ReportFault::Unreadable) + 1;
// Why there is no report, "%s" the visit.
const char* reportFaultFormat(jobs::ReportFault fault, int language);

// The names the rows are written with: "ReportText::Command".
const char* textName(ReportText text);
const char* textName(SheetText text);
const char* textName(jobs::ReportFault fault);

// Why there is no report of the visit: "%s" the visit as given.
std::string reportFaultText(jobs::ReportFault fault, const std::string& visit, int language);

// A stored ISO 8601 local time ("2026-12-09T10:15:00+01:00"); the fields
// that cannot be read stay as LocalTime has them.
LocalTime parseStoredTime(const std::string& iso);

}  // namespace kelvane::texts
