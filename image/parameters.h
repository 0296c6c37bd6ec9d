#pragma once
// The controller's settings, one row per control: where each lives in the
// image, how it is encoded, its range, default and items. The window builds
// its settings controls from this table and both conversions walk it.
#include "image/grid.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

enum class ControlKind {
    UpDown,      // spin edit; 16-bit little-endian (width 2) or one byte
    CheckBox,    // byte 1 / 0; shown checked for any non-zero byte
    ComboBox,    // byte = item index; no selection <-> 0xFF
    RadioGroup,  // byte = item index; none -> 0xFF; beyond the last shows the last
    TrackBar,    // byte = position, held within the range
    MaskEdit,    // p101: eight digit bytes shown as one text
    BitCheck,    // one bit of a byte shared by several check boxes (p714)
};

// Item lists of combo boxes and radio groups.
enum class Items {
    None,
    CodeSwitch,    // p104, p107, p108: off / door strike / relay / all
    Numbers256,    // "0".."255", refilled on every display
    BusLineType,   // p904, p905: normal / strong / RS485
    HandsetTypes,  // p010, p011
    FunctionKey,   // p708
    LineVoltage,   // p110: "12 Volt", "7 Volt"
    StrikeFreq,    // p706: "prąd stały", "1".."20"
    CallbackBus,   // p715 bus: secondary / main
    OpenSignal,    // p114
};

// Design texts of a list (UTF-8); the language table replaces the translated
// ones when a language is applied.
const std::vector<std::string>& itemTexts(Items items);

// The boxes of the main window's pages: the code tables' boxes (in the order
// of GridId), the group each setting sits in (a radio group standing alone is
// its own group), and the description's and card text's boxes.
enum class SettingsGroup {
    Keys,
    Residents,
    GeneralCodes,
    Digitizers,
    LineTimes,  // the handsets' page
    FunctionKey,
    LineOther,
    LineCurrents,
    HandsetsLine1,
    HandsetsLine2,
    Callback,  // the functions' page
    RelayAddresses,
    CodeSwitches,
    ExiAddresses,
    FunctionsOther,
    VirtualConnections,
    OpenConfirmation,
    Password,  // the configuration page
    Communication,
    Times,
    Switchboard,
    ConfigurationOther,
    PanelOther,  // the panels' page
    Strike,
    KeyboardSettings,
    CardText,  // the description page
    Description,
    Count  // not a group: how many there are
};
constexpr int kSettingsGroupCount = static_cast<int>(SettingsGroup::Count);
// The box that holds a code table.
constexpr SettingsGroup gridGroup(GridId grid) { return static_cast<SettingsGroup>(static_cast<int>(grid)); }

struct Parameter {
    const char* number;   // controller's parameter number, "p001"; also the control's tooltip
    const char* control;  // control (and Qt object) name, "p001_UpDown"
    ControlKind kind;
    std::size_t offset;  // image offset
    int width;           // bytes: 2 for the 16-bit values, else 1 (8 for p101)
    int min, max;        // up-down and track-bar range
    int def;             // default in the initial image
    Items items;
    int bit;  // BitCheck: the bit number
    SettingsGroup group;
    const char* label;  // separate label above the control, or nullptr
    const char* edit;   // edit paired with an up-down, or nullptr
};

const std::vector<Parameter>& parameterTable();
const Parameter* findParameter(const std::string& control);

// Reserved bytes of the parameter block, each with its value in the initial
// image: carried over unchanged.
struct ReservedByte {
    int offset;  // within the parameter block
    std::uint8_t initial;
};
constexpr ReservedByte kReservedParamBytes[] = {{17, 0}, {30, 0}, {39, 0}, {50, 1}, {51, 1}};

// The factory password of the initial image, one digit per byte.
constexpr char kFactoryPassword[] = "12345678";

}  // namespace kelvane
