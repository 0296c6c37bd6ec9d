// merge, and the merge an upload makes against --base: the file's edits
// joined with what changed at the controller since the base.
#include "cli/building_register.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"
#include "cli/merge_step.h"

#include "image/local_time.h"
#include "image/merge.h"
#include "texts/file_texts.h"
#include "texts/language_table.h"
#include "texts/merge_text.h"
#include "texts/visit_texts.h"

#include <sys/stat.h>

#include <ctime>
#include <iostream>

namespace kelvane::cli {

using kelvane::ImageVersion;
using kelvane::MergeChoice;
using kelvane::texts::Message;
using kelvane::texts::ToolText;

namespace {

// When the base was made: its file's modification time, local.
std::string fileDate(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return path;
    return kelvane::formatLocalTime(st.st_mtime, "%Y-%m-%d %H:%M");
}

// The base's date, naming the colleague whose visit read it from the
// controller when the register knows one.
std::string baseTitle(ToolRegister& reg, const std::string& path, const kelvane::Image& base) {
    const std::string date = fileDate(path);
    kelvane::registry::Register* r = reg.get();
    std::string by;
    if (!r || r->baseImageFor(base, nullptr, &by) != base) return date;
    return kelvane::texts::visitDateWithWho(date, by, kelvane::registry::technicianName());
}

// The merged file in the register: it came from the building its controller
// version was read from (else the file's, else the base's) and was made on
// that controller's image, so a later upload checks the building and merges
// against what the controller held.
void recordMerged(ToolRegister& reg, const std::string& path, const kelvane::Image& merged,
                  const std::vector<ImageVersion>& versions) {
    reg.madeFile(path, merged,
                 {std::nullopt, {versions[2].image, versions[1].image, versions[0].image}, versions[2].image});
}

}  // namespace

MergeStep mergeWithBase(const Tool& tool, const std::string& baseDate, const ImageVersion& base,
                        const ImageVersion& file, const ImageVersion& controller) {
    MergeStep step;
    const kelvane::ThreeWayMerge merge = kelvane::mergeVersions(base, file, controller);
    std::cout << kelvane::texts::changeListText(kelvane::texts::describeMerge(merge, baseDate, tool.language))
              << std::flush;
    std::vector<MergeChoice> choices;
    if (tool.args.has("--prefer"))
        choices = kelvane::chooseAll(
            merge, tool.args.value("--prefer") == "file" ? MergeChoice::File : MergeChoice::Controller);
    const kelvane::MergedVersion merged = kelvane::resolveMerge(merge, choices);
    if (!merged.undecided.empty()) {
        tool.error("", format(tool.text(ToolText::MergeUnresolved), static_cast<int>(merged.undecided.size())));
        step.exit = kDifferences;
        return step;
    }
    for (kelvane::GridId grid : merged.overfull) {
        tool.error("", format(tool.text(Message::MergeOverfull), kelvane::texts::gridCaption(grid, tool.language)));
        step.exit = kDifferences;
    }
    step.merged = merged.version;
    return step;
}

int mergeCommand(const Tool& tool) {
    const std::string& basePath = tool.args.positional[0];
    std::vector<ImageVersion> versions;
    for (const std::string& path : tool.args.positional) {
        const auto file = loadImageFile(tool, path);
        if (!file) return kFileError;
        versions.push_back({file->image, file->description});
    }
    // A controller holds no description (a downloaded file has none): the
    // base's stands for it, so the file's is kept unless it changed it.
    versions[2].description = versions[0].description;
    ToolRegister reg(tool);
    const MergeStep step =
        mergeWithBase(tool, baseTitle(reg, basePath, versions[0].image), versions[0], versions[1], versions[2]);
    if (step.exit != kDone) return step.exit;
    const std::string out = tool.args.value("--output");
    if (auto fault = kelvane::WriteFault::None;
        !kelvane::saveDataFileTo(kelvane::pathFromUtf8(out), step.merged.image, step.merged.description, &fault)) {
        tool.error(out, kelvane::texts::writeFaultText(fault, tool.language));
        return kFileError;
    }
    recordMerged(reg, out, step.merged.image, versions);
    tool.result(format(tool.text(ToolText::Saved), out));
    return kDone;
}

}  // namespace kelvane::cli
