// cards: the residents' cards of a data file as a PDF.
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"

#include "print/card_render.h"

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
    const auto pages = kelvane::LayoutCardPages(file->image, texts, tool.args.value("--text"));
    if (pages.empty()) {
        tool.error(path, tool.text(kelvane::texts::ToolText::NoCards));
        return kFileError;
    }
    const std::string out = tool.args.value("--output");
    if (!kelvane::WriteCardPdf(QString::fromStdString(out), pages)) {
        tool.error(out, tool.text(kelvane::texts::Message::SaveError));
        return kFileError;
    }
    tool.result(format(tool.text(kelvane::texts::ToolText::CardPages), static_cast<int>(pages.size())));
    tool.result(format(tool.text(kelvane::texts::ToolText::Saved), out));
    return kDone;
}

}  // namespace kelvane::cli
