// cards: the residents' cards of a data file as a PDF, or one flat's.
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"

#include "image/flat_actions.h"
#include "print/card_render.h"
#include "texts/file_texts.h"
#include "texts/flat_action_texts.h"

namespace kelvane::cli {

int cardsCommand(const Tool& tool) {
    const std::string path = tool.args.positional[0];
    const auto file = loadImageFile(tool, path);
    if (!file) return kFileError;
    const auto text = [&](kelvane::texts::CardText t) { return std::string(kelvane::texts::cardText(t, tool.language)); };
    using kelvane::texts::CardText;
    const kelvane::CardTexts texts{text(CardText::FlatNumber),   text(CardText::CallCode),
                                   text(CardText::OpenCode),     text(CardText::MainCallCode),
                                   text(CardText::MainOpenCode), text(CardText::Instruction1),
                                   text(CardText::Instruction2), text(CardText::Instruction3),
                                   text(CardText::Instruction4), text(CardText::Missing)};
    kelvane::Image image = file->image;
    if (tool.args.has("--flat")) {
        const auto slot = kelvane::parseFlat(tool.args.value("--flat"));
        if (!slot) {
            tool.error("", format(tool.text(kelvane::texts::ToolText::UsageError),
                                  format(kelvane::texts::flatText(kelvane::texts::FlatText::BadFlat, tool.language),
                                         tool.args.value("--flat"))));
            return kUsage;
        }
        if (!kelvane::flatExists(image, *slot)) {
            tool.error(path, kelvane::texts::flatRefusalText(kelvane::FlatRefusal::NoSuchFlat, tool.language));
            return kFlatRefused;
        }
        image = kelvane::onlyFlat(image, *slot);
    }
    const auto pages = kelvane::layoutCardPages(image, texts, tool.args.value("--text"));
    if (pages.empty()) {
        tool.error(path, tool.text(kelvane::texts::ToolText::NoCards));
        return kFileError;
    }
    const std::string out = tool.args.value("--output");
    if (auto fault = kelvane::WriteFault::None; !kelvane::writeCardPdf(kelvane::pathFromUtf8(out), pages, &fault)) {
        tool.error(out, kelvane::texts::writeFaultText(fault, tool.language));
        return kFileError;
    }
    tool.result(format(tool.text(kelvane::texts::ToolText::CardPages), static_cast<int>(pages.size())));
    tool.result(format(tool.text(kelvane::texts::ToolText::Saved), out));
    return kDone;
}

}  // namespace kelvane::cli
