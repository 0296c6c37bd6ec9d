#include "image/parameters.h"

namespace kelvane {

namespace {
using K = ControlKind;
using I = Items;
using G = SettingsGroup;
constexpr std::size_t W = 0x3F20;  // the nine 16-bit values
constexpr std::size_t P = 0x3F40;  // the parameter block

// clang-format off
// Built on first use (see parameterTable()), so no other static object can
// read it before it exists.
const std::vector<Parameter>& table() {
    static const std::vector<Parameter> rows = {
// number  control              kind           offset  w  min   max  def   items          bit group           label      edit
{"p001", "p001_UpDown",       K::UpDown,     W + 0,  2, 500, 9999, 3150, I::None,         0, G::LineTimes,     nullptr,   "p001_LabeledEdit"},
{"p002", "p002_UpDown",       K::UpDown,     W + 2,  2, 500, 9999, 3150, I::None,         0, G::LineTimes,     nullptr,   "p002_LabeledEdit"},
{"p003", "p003_UpDown",       K::UpDown,     W + 4,  2, 1500, 2200, 1950, I::None,        0, G::LineTimes,     nullptr,   "p003_LabeledEdit"},
{"p004", "p004_UpDown",       K::UpDown,     W + 6,  2, 500, 9999, 3150, I::None,         0, G::LineTimes,     nullptr,   "p004_LabeledEdit"},
{"p005", "p005_UpDown",       K::UpDown,     W + 8,  2, 1,    255,   23, I::None,         0, G::LineTimes,     nullptr,   "p005_LabeledEdit"},
{"p006", "p006_UpDown",       K::UpDown,     W + 10, 2, 1,    255,   78, I::None,         0, G::LineTimes,     nullptr,   "p006_LabeledEdit"},
{"p012", "p012_UpDown",       K::UpDown,     P + 46, 1, 0,    100,  100, I::None,         0, G::LineTimes,     nullptr,   "p012_LabeledEdit"},
{"p708", "p708_RadioGroup",   K::RadioGroup, P + 49, 1, 0,      3,    0, I::FunctionKey,  0, G::FunctionKey,    nullptr,  nullptr},
{"p901", "p901_CheckBox",     K::CheckBox,   P + 37, 1, 0,      1,    0, I::None,         0, G::LineOther,     nullptr,   nullptr},
{"p712", "p712_UpDown",       K::UpDown,     P + 45, 1, 0,    100,   50, I::None,         0, G::LineOther,     nullptr,   "p712_LabeledEdit"},
{"p110", "p110_ComboBox",     K::ComboBox,   P + 16, 1, 0,      1,    1, I::LineVoltage,  0, G::LineOther,     "Label1",  nullptr},
{"p009", "p009_UpDown",       K::UpDown,     W + 16, 2, 1,    255,  180, I::None,         0, G::LineCurrents,  nullptr,   "p009_LabeledEdit"},
{"p008", "p008_UpDown",       K::UpDown,     W + 14, 2, 1,    255,   84, I::None,         0, G::LineCurrents,  nullptr,   "p008_LabeledEdit"},
{"p007", "p007_UpDown",       K::UpDown,     W + 12, 2, 1,    255,  120, I::None,         0, G::LineCurrents,  nullptr,   "p007_LabeledEdit"},
{"p010", "p010_RadioGroup",   K::RadioGroup, P + 47, 1, 0,      1,    0, I::HandsetTypes, 0, G::HandsetsLine1,  nullptr,  nullptr},
{"p011", "p011_RadioGroup",   K::RadioGroup, P + 48, 1, 0,      1,    0, I::HandsetTypes, 0, G::HandsetsLine2,  nullptr,  nullptr},

{"p715", "p715_ADR_ComboBox", K::ComboBox,   P + 54, 1, 0,    255,    0, I::Numbers256,   0, G::Callback,      "Label11", nullptr},
{"p715", "p715_BUS_ComboBox", K::ComboBox,   P + 53, 1, 0,      1,    0, I::CallbackBus,  0, G::Callback,      "Label12", nullptr},
{"p805", "p805_ComboBox",     K::ComboBox,   P + 35, 1, 0,    255,    0, I::Numbers256,   0, G::RelayAddresses, "Label5",  nullptr},
{"p702", "p702_ComboBox",     K::ComboBox,   P + 24, 1, 0,    255,    0, I::Numbers256,   0, G::RelayAddresses, "Label8",  nullptr},
{"p108", "p108_ComboBox",     K::ComboBox,   P + 14, 1, 0,      3,    3, I::CodeSwitch,   0, G::CodeSwitches,  "Label15", nullptr},
{"p107", "p107_ComboBox",     K::ComboBox,   P + 13, 1, 0,      3,    3, I::CodeSwitch,   0, G::CodeSwitches,  "Label14", nullptr},
{"p804", "p804_ComboBox",     K::ComboBox,   P + 34, 1, 0,    255,    0, I::Numbers256,   0, G::ExiAddresses,  "Label4",  nullptr},
{"p703", "p703_ComboBox",     K::ComboBox,   P + 25, 1, 0,    255,    0, I::Numbers256,   0, G::ExiAddresses,  "Label7",  nullptr},
{"p906", "p906_CheckBox",     K::CheckBox,   P + 42, 1, 0,      1,    1, I::None,         0, G::FunctionsOther, nullptr,   nullptr},
{"p902", "p902_CheckBox",     K::CheckBox,   P + 38, 1, 0,      1,    0, I::None,         0, G::FunctionsOther, nullptr,   nullptr},
{"p714", "p714_1_CheckBox",   K::BitCheck,   P + 52, 1, 0,      1,    0, I::None,         0, G::VirtualConnections, nullptr,   nullptr},
{"p714", "p714_2_CheckBox",   K::BitCheck,   P + 52, 1, 0,      1,    0, I::None,         1, G::VirtualConnections, nullptr,   nullptr},
{"p714", "p714_3_CheckBox",   K::BitCheck,   P + 52, 1, 0,      1,    0, I::None,         2, G::VirtualConnections, nullptr,   nullptr},
{"p104", "p104_ComboBox",     K::ComboBox,   P + 9,  1, 0,      3,    3, I::CodeSwitch,   0, G::OpenConfirmation, nullptr,   nullptr},

{"p101", "p101_MaskEdit",     K::MaskEdit,   P + 0,  8, 0,      9,    0, I::None,         0, G::Password,      nullptr,   nullptr},
{"p905", "p905_ComboBox",     K::ComboBox,   P + 41, 1, 0,      2,    1, I::BusLineType,  0, G::Communication, "Label3",  nullptr},
{"p801", "p801_M_CheckBox",   K::CheckBox,   P + 36, 1, 0,      1,    1, I::None,         0, G::Communication, nullptr,   nullptr},
{"p907", "p907_CheckBox",     K::CheckBox,   P + 43, 1, 0,      1,    1, I::None,         0, G::Communication, nullptr,   nullptr},
{"p801", "p801_ADR_UpDown",   K::UpDown,     P + 33, 1, 1,    255,   66, I::None,         0, G::Communication, "Label6",  "p801_ADR_Edit"},
{"p904", "p904_ComboBox",     K::ComboBox,   P + 40, 1, 0,      2,    1, I::BusLineType,  0, G::Communication, "Label2",  nullptr},
{"p201", "p201_UpDown",       K::UpDown,     P + 19, 1, 1,     30,    3, I::None,         0, G::Times,         "Label13", "p201_Edit"},
{"p202", "p202_UpDown",       K::UpDown,     P + 20, 1, 1,     30,    5, I::None,         0, G::Times,         "Label16", "p202_Edit"},
{"p203", "p203_UpDown",       K::UpDown,     P + 21, 1, 1,     30,   20, I::None,         0, G::Times,         "Label17", "p203_Edit"},
{"p204", "p204_UpDown",       K::UpDown,     P + 22, 1, 1,    120,  120, I::None,         0, G::Times,         "Label18", "p204_Edit"},
{"p205", "p205_UpDown",       K::UpDown,     P + 23, 1, 1,     30,    3, I::None,         0, G::Times,         "Label19", "p205_Edit"},
{"p206", "p206_UpDown",       K::UpDown,     P + 44, 1, 1,     30,    3, I::None,         0, G::Times,         "Label20", "p206_Edit"},
{"p701", "p701_CheckBox",     K::CheckBox,   P + 32, 1, 0,      1,    0, I::None,         0, G::Switchboard,   nullptr,   nullptr},
{"p710", "p710_CheckBox",     K::CheckBox,   P + 18, 1, 0,      1,    0, I::None,         0, G::Switchboard,   nullptr,   nullptr},
{"p704", "p704_UpDown",       K::UpDown,     P + 26, 1, 1,    255,   25, I::None,         0, G::Switchboard,   "Label9",  "p704_Edit"},
{"p705", "p705_UpDown",       K::UpDown,     P + 27, 1, 1,    255,   25, I::None,         0, G::Switchboard,   "Label10", "p705_Edit"},
{"p711", "p711_CheckBox",     K::CheckBox,   P + 12, 1, 0,      1,    0, I::None,         0, G::ConfigurationOther, nullptr,   nullptr},
{"p106", "p106_CheckBox",     K::CheckBox,   P + 11, 1, 0,      1,    0, I::None,         0, G::ConfigurationOther, nullptr,   nullptr},
{"p103", "p103_CheckBox",     K::CheckBox,   P + 8,  1, 0,      1,    0, I::None,         0, G::ConfigurationOther, nullptr,   nullptr},

{"p105", "p105_TrackBar",     K::TrackBar,   P + 10, 1, 0,      7,    1, I::None,         0, G::PanelOther,    "Label23", nullptr},
{"p114", "p114_RadioGroup",   K::RadioGroup, P + 55, 1, 0,      1,    1, I::OpenSignal,   0, G::PanelOther,    nullptr,   nullptr},
{"p709", "p709_CheckBox",     K::CheckBox,   P + 31, 1, 0,      1,    0, I::None,         0, G::Strike,        nullptr,   nullptr},
{"p109", "p109_CheckBox",     K::CheckBox,   P + 15, 1, 0,      1,    0, I::None,         0, G::Strike,        nullptr,   nullptr},
{"p707", "p707_UpDown",       K::UpDown,     P + 28, 1, 0,    250,  200, I::None,         0, G::Strike,        "Label21", "p707_Edit"},
{"p706", "p706_ComboBox",     K::ComboBox,   P + 29, 1, 0,     20,   15, I::StrikeFreq,   0, G::Strike,        "Label22", nullptr},
    };
    return rows;
}
// clang-format on
}  // namespace

namespace {
std::vector<std::string> makeItemTexts(Items items) {
    switch (items) {
    case I::None: return {};
    case I::CodeSwitch: return {"Wyłączone", "Dla zaczepu", "Dla przekaźnika", "Wszystkie"};
    case I::Numbers256: {
        std::vector<std::string> v;
        for (int i = 0; i < 256; ++i) v.push_back(std::to_string(i));
        return v;
    }
    case I::BusLineType: return {"Normalna", "Wzmocniona", "RS485"};
    case I::HandsetTypes: return {"Unifony cyfrowe typu 1", "Unifony cyfrowe typu 2"};
    case I::FunctionKey:
        return {"Rezystor 180 wywołuje CP, rezystor 68 realizuje OC", "Rezystory 180 i 68 wywołują CP",
                "Rezystowy 180 i 68 realizują OC", "Rezystor 180 realizuje OC, rezystor 68 wywołuje CP"};
    case I::LineVoltage: return {"12 Volt", "7 Volt"};
    case I::StrikeFreq: {
        std::vector<std::string> v{"prąd stały"};
        for (int i = 1; i <= 20; ++i) v.push_back(std::to_string(i));
        return v;
    }
    case I::CallbackBus: return {"Dodatkowe", "Główne"};
    case I::OpenSignal: return {"Ruchoma FALKA", "Naspis OPEN"};
    }
    return {};
}

}  // namespace

const std::vector<std::string>& itemTexts(Items items) {
    static const std::vector<std::vector<std::string>> lists = [] {
        std::vector<std::vector<std::string>> all;
        for (int i = 0; i <= static_cast<int>(Items::OpenSignal); ++i)
            all.push_back(makeItemTexts(static_cast<Items>(i)));
        return all;
    }();
    return lists[static_cast<std::size_t>(items)];
}

const std::vector<Parameter>& parameterTable() { return table(); }

const Parameter* findParameter(const std::string& control) {
    for (const auto& p : table())
        if (control == p.control) return &p;
    return nullptr;
}

}  // namespace kelvane
