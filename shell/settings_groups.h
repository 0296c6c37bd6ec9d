#pragma once
// Where the settings' group boxes sit on the four settings pages. Each row of
// the parameter table names its group (Parameter::group); a group box holds its
// settings one under another, and a radio group that is its own group box
// stands in its cell directly.
#include "image/parameters.h"

#include <vector>

namespace kelvane::shell {

struct GroupPlace {
    SettingsGroup group;
    int page;                              // index of the page in the page control (1..4)
    int column, row, columnSpan, rowSpan;  // cell of the page's grid
    const char* design;                    // caption before a language is applied
};

const std::vector<GroupPlace>& settingsGroups();

// The page (1..4) that holds a settings group; 0 for the other boxes.
int settingsPage(SettingsGroup group);

// The object name of a group's box (of the radio group that is its own group).
const char* groupObjectName(SettingsGroup group);

}  // namespace kelvane::shell
