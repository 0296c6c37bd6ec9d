#include "texts/entry_message.h"

#include "texts/language_table.h"

#include <cstdio>

namespace kelvane::texts {

std::string buildEntryMessage(EntryProblem problem, int language, const EntryMessageParts& parts) {
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

std::string brokenRuleText(const std::string& header, CellRule rule, int language) {
    Message text = Message::RuleFlatNumber;
    switch (rule) {
    case CellRule::None: return {};
    case CellRule::FlatNumber: text = Message::RuleFlatNumber; break;
    case CellRule::KeySerial: text = Message::RuleKeySerial; break;
    case CellRule::LineAndFlat: text = Message::RuleLineAndFlat; break;
    case CellRule::LineAndPlace: text = Message::RuleLineAndPlace; break;
    case CellRule::Code: text = Message::RuleCode; break;
    case CellRule::FourfoldNumber: text = Message::RuleFourfoldNumber; break;
    case CellRule::KeyNumber: text = Message::RuleKeyNumber; break;
    }
    std::string line = messageText(Message::BrokenRule, language);
    std::size_t from = 0;
    for (const std::string& field : {header, std::string(messageText(text, language))})
        if (const auto at = line.find("%s", from); at != std::string::npos) {
            line.replace(at, 2, field);
            from = at + field.size();
        }
    return line;
}

}  // namespace kelvane::texts
