#include "texts/configuration_warnings.h"

#include "texts/language_table.h"

#include <cstdarg>
#include <cstdio>
#include <set>

namespace kelvane::texts {

namespace {

std::string format(CheckText entry, int language, ...) {
    va_list args, again;
    va_start(args, language);
    va_copy(again, args);
    const char* fmt = checkText(entry, language);
    const int size = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0) std::vsnprintf(text.data(), text.size() + 1, fmt, again);
    va_end(again);
    return text;
}

// "1.5: 0123, 1.9: 1111, …" or "1111, 2222".
std::string listItems(const std::vector<WarningItem>& items) {
    std::string list;
    for (std::size_t i = 0; i < items.size() && i < static_cast<std::size_t>(kListedInText); ++i) {
        if (i) list += ", ";
        if (!items[i].name.empty()) list += items[i].name + ": ";
        list += items[i].value;
    }
    if (items.size() > static_cast<std::size_t>(kListedInText)) list += ", …";
    return list;
}

}  // namespace

std::string warningText(const Warning& w, int language) {
    using K = WarningKind;
    const auto& it = w.items;
    const bool one = it.size() == 1;
    switch (w.kind) {
    case K::FactoryPassword: return format(CheckText::FactoryPassword, language, w.stored.c_str());
    case K::GuessablePassword: return format(CheckText::GuessablePassword, language, w.stored.c_str());
    case K::GuessableOpenCodes:
        return one ? format(CheckText::GuessableOpenCode, language, it[0].name.c_str(), it[0].value.c_str())
                   : format(CheckText::GuessableOpenCodes, language, static_cast<int>(it.size()), listItems(it).c_str());
    case K::GuessableGeneralCodes:
        return one ? format(CheckText::GuessableGeneralCode, language, it[0].value.c_str())
                   : format(CheckText::GuessableGeneralCodes, language, static_cast<int>(it.size()), listItems(it).c_str());
    case K::GeneralCodeIsCallAndOpen:
        if (it.size() < 3) break;
        return format(CheckText::GeneralCodeIsCallAndOpen, language, it[0].value.c_str(), it[1].value.c_str(),
                      it[1].name.c_str(), it[2].value.c_str());
    case K::RepeatedGeneralCode:
        if (it.size() < 2) break;
        return format(CheckText::RepeatedGeneralCode, language, it[1].value.c_str(), it[0].row, it[1].row);
    case K::SharedKey: {
        if (it.empty()) break;
        std::string locals;
        std::set<std::string> seen;
        for (const WarningItem& item : it)
            if (seen.insert(item.name).second) locals += (locals.empty() ? "" : ", ") + item.name;
        return format(CheckText::SharedKey, language, it[0].value.c_str(), locals.c_str());
    }
    case K::GeneralCodeEveryPanel:
        return one ? format(CheckText::GeneralCodeEveryPanel, language, it[0].value.c_str())
                   : format(CheckText::GeneralCodesEveryPanel, language, static_cast<int>(it.size()),
                            listItems(it).c_str());
    case K::SettingOutOfRange: {
        const std::string shown = w.shown.empty() ? checkText(CheckText::NoSelection, language) : w.shown;
        return format(CheckText::SettingOutOfRange, language, w.parameter.c_str(), w.stored.c_str(), shown.c_str());
    }
    }
    return {};
}

std::string warningPlaceText(const Warning& w, int language) {
    if (w.grid) return format(CheckText::PlaceRow, language, groupCaption(gridGroup(*w.grid), language), w.row);
    return w.parameter;
}

std::vector<ChangeGroup> warningGroups(const std::vector<Warning>& warnings, int language) {
    if (warnings.empty()) return {};
    ChangeGroup g;
    g.kind = ChangeGroupKind::Other;
    g.title = checkText(CheckText::Heading, language);
    g.count = static_cast<int>(warnings.size());
    for (const Warning& w : warnings)
        g.lines.push_back(std::string(severityText(severityOf(w.kind), language)) + " – " +
                          warningPlaceText(w, language) + ": " + warningText(w, language));
    return {g};
}

const char* severityText(Severity severity, int language) {
    return checkText(severity == Severity::Info ? CheckText::Information : CheckText::Warning, language);
}

}  // namespace kelvane::texts
