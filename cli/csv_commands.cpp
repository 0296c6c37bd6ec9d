// export-csv and import-csv: the four code tables as spreadsheet files.
#include "cli/building_register.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"

#include "files/grid_csv.h"
#include "image/window_data.h"
#include "texts/file_texts.h"
#include "texts/grid_csv_texts.h"

#include <filesystem>

namespace kelvane::cli {

using kelvane::GridId;
using kelvane::texts::Message;
using kelvane::texts::ToolText;

int exportCsvCommand(const Tool& tool) {
    const std::string path = tool.args.positional[0];
    const auto file = loadImageFile(tool, path);
    if (!file) return kFileError;
    const std::filesystem::path dir = kelvane::pathFromUtf8(tool.args.value("--output"));
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const kelvane::WindowData window = kelvane::showImage(file->image);
    for (int g = 0; g < kelvane::kGridCount; ++g) {
        const auto id = static_cast<GridId>(g);
        const std::filesystem::path outPath = dir / kelvane::csvFileName(id);
        const std::string out = kelvane::pathToUtf8(outPath);
        const std::string csv = kelvane::exportGridCsv(window.grid(id), kelvane::texts::gridHeaders(id, tool.language));
        if (auto fault = kelvane::WriteFault::None; !kelvane::saveTextFile(outPath, csv, &fault)) {
            tool.error(out, kelvane::texts::writeFaultText(fault, tool.language));
            return kFileError;
        }
        tool.result(format(tool.text(ToolText::Saved), out));
    }
    return kDone;
}

namespace {

// Rows were checked by the import; a row the image builder still refuses
// stops the conversion.
class StopOnAnyRow : public kelvane::RowReporter {
public:
    bool invalidEntry(GridId, int, const kelvane::Grid&) override { return true; }
    void repeatedEntry(GridId, int, const kelvane::Grid&) override {}
    void tableFull(GridId, int, const kelvane::Grid&) override {}
};

}  // namespace

int importCsvCommand(const Tool& tool) {
    const std::string path = tool.args.positional[0];
    const std::string table = tool.args.positional[1];
    const std::string csvPath = tool.args.positional[2];
    GridId id;
    if (!kelvane::gridFromCsvTableName(table, id)) {
        tool.error("", format(tool.text(ToolText::UsageError), "TABLE " + table));
        return kUsage;
    }
    const auto file = loadImageFile(tool, path);
    if (!file) return kFileError;
    std::string bytes;
    if (auto fault = kelvane::ReadFault::None; !kelvane::loadFileBytes(kelvane::pathFromUtf8(csvPath), bytes, &fault)) {
        tool.error(csvPath, kelvane::texts::readFaultText(fault, tool.language));
        return kFileError;
    }
    kelvane::WindowData window = kelvane::showImage(file->image);
    const auto mode = tool.args.has("--append") ? kelvane::CsvImportMode::Append : kelvane::CsvImportMode::Replace;
    const kelvane::CsvImport import =
        kelvane::importGridCsv(id, bytes, window.grid(id), mode, kelvane::texts::csvHeaders());
    if (import.fault != kelvane::CsvFileFault::None) {
        tool.error(csvPath, kelvane::texts::csvFaultText(import, id, tool.language));
        return kFileError;
    }
    // Nothing is written while a row is refused: the file is mended and run again.
    if (!import.refused.empty()) {
        for (const auto& refusal : import.refused)
            tool.error(csvPath, kelvane::texts::csvRefusalText(refusal, id, tool.language));
        tool.error(csvPath, format(tool.text(ToolText::ImportRefused), static_cast<int>(import.refused.size())));
        return kFileError;
    }
    // The window's conversion also settles bytes the table does not own (the
    // values it always writes): only what the import itself changes goes into
    // the file, measured against the same conversion without the import.
    StopOnAnyRow reporter;
    const auto before = kelvane::buildImage(window, file->image, reporter);
    window.grid(id) = import.grid;
    const auto after = kelvane::buildImage(window, file->image, reporter);
    const std::string out = tool.args.value("--output");
    if (!before || !after) {
        tool.error(csvPath, format(tool.text(ToolText::ImportRefused), 1));
        return kFileError;
    }
    kelvane::Image image = file->image;
    for (std::size_t i = 0; i < image.size(); ++i)
        if ((*before)[i] != (*after)[i]) image[i] = (*after)[i];
    if (auto fault = kelvane::WriteFault::None;
        !kelvane::saveDataFileTo(kelvane::pathFromUtf8(out), image, file->description, &fault)) {
        tool.error(out, kelvane::texts::writeFaultText(fault, tool.language));
        return kFileError;
    }
    ToolRegister(tool).editedFile(out, image, file->image);
    tool.result(format(tool.text(ToolText::ImportCounts), import.added, import.replaced, import.removed));
    tool.result(format(tool.text(ToolText::Saved), out));
    return kDone;
}

}  // namespace kelvane::cli
