#pragma once
// The visit report as texts laid out on one A4 sheet: a title, labelled facts
// (building, date, technician, controller), sections of lines, and lines to
// sign. The texts come in the program's language (texts/report_text.h); the
// sheet is drawn by print/report_render.h. Texts are UTF-8.
#include <string>
#include <utility>
#include <vector>

namespace kelvane {

struct ReportSection {
    std::string heading;
    std::vector<std::string> lines;  // one item a line; long lines wrap
    std::string none;                // shown instead when there is no line
};

struct ReportSheet {
    std::string title;
    std::vector<std::pair<std::string, std::string>> facts;  // label, value
    std::vector<ReportSection> sections;
    std::vector<std::string> signatures;  // a line to sign above each caption
    // printf form with one %d: the last line when lines had to be left out to
    // keep the report on one page ("… and 12 more").
    std::string moreLines;
    std::string footer;
};

}  // namespace kelvane
