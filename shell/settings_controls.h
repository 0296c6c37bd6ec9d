#pragma once
// The main window's settings controls, one per row of the parameter table:
// creating them and moving values between them and plain control states.
#include "image/parameters.h"
#include "image/window_data.h"

#include <QString>

class QButtonGroup;
class QBoxLayout;
class QWidget;

namespace kelvane::shell {

// Object name of the label above a labelled edit: "p001_LabeledEdit_EditLabel".
QString editLabelName(const QString& labeledEdit);

// Creates the parameter's control, and its label above it where it has one,
// as children of parent added to layout (when given). Returns the control named after the
// parameter's control (for an up-down, the spin box; its edit carries the
// edit's name). A radio group is a group box holding its buttons.
QWidget* createSettingControl(const Parameter& p, QWidget* parent, QBoxLayout* layout);

// The buttons of a radio group made by createSettingControl; ids are item indexes.
QButtonGroup* radioButtons(const QWidget* radioGroup);

// Makes what is being typed into a spin edit or a combo box its value, so
// that what is read is what the control shows: a spin edit takes a number
// within its range or shows its value again; a combo box selects the item of
// that text (case aside), or none.
void commitTypedText(const Parameter& p, QWidget* control);

ControlState readSetting(const Parameter& p, const QWidget* control);
// Numbers256 combo boxes get their 256 items anew, as every refill does.
void writeSetting(const Parameter& p, QWidget* control, const ControlState& state);

}  // namespace kelvane::shell
