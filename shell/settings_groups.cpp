#include "shell/settings_groups.h"

namespace kelvane::shell {

using G = SettingsGroup;

const std::vector<GroupPlace>& settingsGroups() {
    static const std::vector<GroupPlace> groups = {
        {G::LineTimes, 1, 0, 0, 1, 3, "Czasy ramki LU"},
        {G::FunctionKey, 1, 1, 0, 1, 1, "Przycisk funkcyjny"},
        {G::LineOther, 1, 2, 0, 1, 1, "Pozostale"},
        {G::LineCurrents, 1, 1, 1, 1, 2, "Prądy LU"},
        {G::HandsetsLine1, 1, 2, 1, 1, 1, "Rodzaj komunikacji LU1"},
        {G::HandsetsLine2, 1, 2, 2, 1, 1, "Rodzaj komunikacji LU2"},
        {G::Callback, 2, 0, 0, 1, 2, "Polaczenie zwrotne"},
        {G::RelayAddresses, 2, 0, 2, 1, 2, "Adresy przekażnikow"},
        {G::CodeSwitches, 2, 1, 0, 1, 2, "Załączanie kodów"},
        {G::ExiAddresses, 2, 1, 2, 1, 2, "Adresy EXI"},
        {G::FunctionsOther, 2, 2, 0, 1, 1, "Inne"},
        {G::VirtualConnections, 2, 2, 1, 1, 2, "Wirtualne połączenia"},
        {G::OpenConfirmation, 2, 2, 3, 1, 1, "Potwierdzenie kodu w unifonie"},
        {G::Password, 3, 0, 0, 1, 1, "Haslo"},
        {G::Times, 3, 1, 0, 1, 3, "Czasy"},
        {G::Switchboard, 3, 2, 0, 1, 2, "Centrala"},
        {G::Communication, 3, 0, 1, 1, 2, "Komunikacja"},
        {G::ConfigurationOther, 3, 2, 2, 1, 1, "Inne"},
        {G::PanelOther, 4, 0, 0, 1, 1, "Rozne"},
        {G::Strike, 4, 0, 1, 1, 1, "Elektrozaczep"},
        {G::KeyboardSettings, 4, 1, 0, 1, 2, "Nastawy zap. w klawiaturze"},
    };
    return groups;
}

int settingsPage(SettingsGroup group) {
    for (const GroupPlace& g : settingsGroups())
        if (g.group == group) return g.page;
    return 0;
}

const char* groupObjectName(SettingsGroup group) {
    switch (group) {
    case G::Keys: return "GroupBox1";
    case G::Residents: return "GroupBox2";
    case G::GeneralCodes: return "GroupBox3";
    case G::Digitizers: return "GroupBox4";
    case G::LineTimes: return "GroupBox5";
    case G::FunctionKey: return "p708_RadioGroup";
    case G::LineOther: return "GroupBox6";
    case G::LineCurrents: return "GroupBox22";
    case G::HandsetsLine1: return "p010_RadioGroup";
    case G::HandsetsLine2: return "p011_RadioGroup";
    case G::Callback: return "GroupBox8";
    case G::RelayAddresses: return "GroupBox12";
    case G::CodeSwitches: return "GroupBox11";
    case G::ExiAddresses: return "GroupBox10";
    case G::FunctionsOther: return "GroupBox13";
    case G::VirtualConnections: return "GroupBox7";
    case G::OpenConfirmation: return "GroupBox9";
    case G::Password: return "GroupBox16";
    case G::Communication: return "GroupBox15";
    case G::Times: return "GroupBox18";
    case G::Switchboard: return "GroupBox14";
    case G::ConfigurationOther: return "GroupBox17";
    case G::PanelOther: return "GroupBox20";
    case G::Strike: return "GroupBox19";
    case G::KeyboardSettings: return "GroupBox21";
    case G::CardText: return "GroupBox24";
    case G::Description: return "GroupBox23";
    case G::Count: break;
    }
    return "";
}

}  // namespace kelvane::shell
