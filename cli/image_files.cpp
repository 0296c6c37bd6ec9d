#include "cli/image_files.h"

#include "image/change_list.h"
#include "image/image.h"
#include "texts/change_text.h"
#include "texts/output_text.h"

#include <algorithm>
#include <iostream>

#include <filesystem>

namespace kelvane::cli {

std::optional<kelvane::DataFile> loadImageFile(const Tool& tool, const std::string& path) {
    auto file = kelvane::LoadDataFile(kelvane::PathFromUtf8(path));
    if (!file) tool.error(path, tool.text(kelvane::texts::Message::LoadError));
    return file;
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
    auto groups = kelvane::texts::DescribeChanges(kelvane::ListChanges(from, to), tool.language);
    if (!withUpload)
        groups.erase(std::remove_if(groups.begin(), groups.end(),
                                    [](const auto& g) { return g.kind == kelvane::texts::ChangeGroupKind::Upload; }),
                     groups.end());
    std::cout << kelvane::texts::VisibleText(kelvane::texts::ChangeListText(groups), true) << std::flush;
}

}  // namespace kelvane::cli
