#include "cli/image_files.h"

#include "image/change_list.h"
#include "image/image.h"
#include "texts/change_text.h"
#include "texts/file_texts.h"
#include "texts/output_text.h"

#include <algorithm>
#include <iostream>

#include <filesystem>

namespace kelvane::cli {

namespace {
// The load error and, where it can be told, why: the same text for a missing
// file and a truncated one would send the technician looking in the wrong place.
std::string loadErrorText(const Tool& tool, const std::filesystem::path& path) {
    using kelvane::texts::Message;
    std::string bytes;
    const kelvane::ReadFault fault =
        kelvane::readFileBounded(path, kelvane::kImageSize + kelvane::kMaxDescriptionBytes, bytes);
    std::error_code error;
    Message reason = Message::LoadError;
    if (fault == kelvane::ReadFault::Failed && !std::filesystem::exists(path, error))
        reason = Message::FileMissing;
    else if (fault == kelvane::ReadFault::None && bytes.size() < kelvane::kImageSize)
        reason = Message::FileTooShort;
    else if (fault != kelvane::ReadFault::Failed && fault != kelvane::ReadFault::None)
        return kelvane::texts::readFaultText(fault, tool.language);
    const std::string text = tool.text(Message::LoadError);
    return reason == Message::LoadError ? text : text + " " + tool.text(reason);
}
}  // namespace

std::optional<kelvane::DataFile> loadImageFile(const Tool& tool, const std::string& path) {
    const std::filesystem::path file = kelvane::pathFromUtf8(path);
    auto data = kelvane::loadDataFileFrom(file);
    if (!data) tool.error(path, loadErrorText(tool, file));
    return data;
}

ImageDifference compareImages(const kelvane::Image& from, const kelvane::Image& to) {
    ImageDifference d;
    for (std::size_t b = 0; b < kelvane::kBlockCount; ++b) {
        int inBlock = 0;
        for (std::size_t i = b * kelvane::kBlockSize; i < (b + 1) * kelvane::kBlockSize; ++i)
            inBlock += from[i] != to[i];
        if (inBlock) d.blocks.push_back(static_cast<int>(b));
        d.bytes += inBlock;
    }
    return d;
}

void printChangeList(const Tool& tool, const kelvane::Image& from, const kelvane::Image& to, bool withUpload) {
    auto groups = kelvane::texts::describeChanges(kelvane::listChanges(from, to), tool.language);
    if (!withUpload)
        groups.erase(std::remove_if(groups.begin(), groups.end(),
                                    [](const auto& g) { return g.kind == kelvane::texts::ChangeGroupKind::Upload; }),
                     groups.end());
    std::cout << kelvane::texts::visibleText(kelvane::texts::changeListText(groups), true) << std::flush;
}

}  // namespace kelvane::cli
