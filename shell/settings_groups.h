#pragma once
// Where the settings' group boxes sit on the four settings pages. Each row of
// the parameter table names its group (Parameter::group); a group box holds its
// settings one under another, and a radio group that is its own group box
// stands in its cell directly.
#include <vector>

namespace kelvane::shell {

struct GroupPlace {
    const char* name;                      // object name of the group box or radio group
    int page;                              // index of the page in the page control (1..4)
    int column, row, columnSpan, rowSpan;  // cell of the page's grid
    const char* design;                    // caption before a language is applied
};

const std::vector<GroupPlace>& settingsGroups();

// The page (1..4) that holds the group `name`; 0 when no group has that name.
int settingsPage(const char* name);

}  // namespace kelvane::shell
