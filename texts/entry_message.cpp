#include "texts/entry_message.h"

#include "texts/language_table.h"

#include <cstdio>

namespace kelvane::texts {

std::string BuildEntryMessage(EntryProblem problem, int language, const EntryMessageParts& parts) {
    std::string text = messageText(Message::ValidationTab, language);
    text += parts.tabCaption;
    text += messageText(Message::ValidationTable, language);
    text += parts.groupCaption;
    text += messageText(Message::ValidationRecord, language);
    text += std::to_string(parts.row);
    text += '\n';
    for (std::size_t col = 0; col < parts.headers.size(); ++col) {
        text += parts.headers[col];
        text += "= ";
        if (col < parts.cells.size()) text += parts.cells[col];
        text += '\n';
    }
    switch (problem) {
    case EntryProblem::Invalid: text += messageText(Message::InvalidEntry, language); break;
    case EntryProblem::Repeated: text += messageText(Message::RepeatedEntry, language); break;
    case EntryProblem::TableFull: {
        char buf[256];
        std::snprintf(buf, sizeof buf, messageText(Message::TableFull, language), parts.capacity);
        text += buf;
        break;
    }
    }
    return text;
}

}  // namespace kelvane::texts
