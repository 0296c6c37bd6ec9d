#pragma once
// Data files as the commands read them, and the comparison of two images.
#include "cli/tool_context.h"
#include "files/data_file.h"
#include "image/change_list.h"

#include <optional>
#include <string>
#include <vector>

namespace kelvane::cli {

// The data file, or nothing after an error line naming it.
std::optional<kelvane::DataFile> loadImageFile(const Tool& tool, const std::string& path);

struct ImageDifference {
    int bytes = 0;
    std::vector<int> blocks;  // the 32-byte blocks an upload would send, ascending
};
ImageDifference compareImages(const kelvane::Image& from, const kelvane::Image& to);

// The change list for scripts: every field by name, texts in the tool's language.
std::string changeListJson(const kelvane::ChangeList& changes, int language);

// What changes from `from` to `to` in the window's terms, grouped, one item a
// line (the change list the window shows before an upload).
// `withUpload`: with the group of the blocks an upload would send.
void printChangeList(const Tool& tool, const kelvane::Image& from, const kelvane::Image& to, bool withUpload = true);

}  // namespace kelvane::cli
