#include "shell/settings_controls.h"

#include "texts/change_text.h"
#include "shell/wrap_check_box.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

namespace kelvane::shell {

namespace {

QString qs(const char* s) { return QString::fromUtf8(s); }

QStringList itemList(Items items) {
    QStringList list;
    for (const std::string& t : itemTexts(items)) list << QString::fromStdString(t);
    return list;
}

const QStringList& numbers256() {
    static const QStringList list = itemList(Items::Numbers256);
    return list;
}

// Check boxes whose captions no language changes.
QString fixedCaption(const Parameter& p) {
    const char* caption = texts::fixedCheckBoxCaption(p.control);
    return caption ? QString::fromLatin1(caption) : QString();
}

QLabel* addLabel(const QString& name, QWidget* parent, QBoxLayout* layout, QWidget* buddy) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setBuddy(buddy);
    if (layout) layout->addWidget(label);
    return label;
}

}  // namespace

QString editLabelName(const QString& labeledEdit) { return labeledEdit + QStringLiteral("_EditLabel"); }

QWidget* createSettingControl(const Parameter& p, QWidget* parent, QBoxLayout* layout) {
    const QString name = qs(p.control);
    const QString hint = qs(p.number);
    QWidget* control = nullptr;
    QWidget* hinted = nullptr;  // a second widget under the pointer that shows the hint
    switch (p.kind) {
    case ControlKind::UpDown: {
        auto* spin = new QSpinBox(parent);
        spin->setRange(p.min, p.max);
        // Plain digits whatever the system's locale: "3,150" reads as 3.15 in Polish.
        spin->setLocale(QLocale::c());
        spin->setAccelerated(true);
        if (QLineEdit* edit = spin->findChild<QLineEdit*>()) {
            edit->setObjectName(qs(p.edit));
            hinted = edit;
        }
        control = spin;
        break;
    }
    case ControlKind::CheckBox:
    case ControlKind::BitCheck: control = new WrapCheckBox(fixedCaption(p), parent); break;
    case ControlKind::ComboBox: {
        auto* combo = new QComboBox(parent);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setMaxVisibleItems(16);
        combo->addItems(itemList(p.items));
        control = combo;
        break;
    }
    case ControlKind::RadioGroup: {
        auto* box = new QGroupBox(parent);
        auto* buttons = new QButtonGroup(box);
        buttons->setObjectName(name + QStringLiteral("_Buttons"));
        auto* inner = new QVBoxLayout(box);
        inner->setContentsMargins(6, 2, 6, 2);
        inner->setSpacing(2);
        int id = 0;
        for (const QString& text : itemList(p.items)) {
            auto* button = new QRadioButton(text, box);
            button->setObjectName(name + QStringLiteral("_%1").arg(id));
            buttons->addButton(button, id++);
            inner->addWidget(button);
        }
        inner->addStretch();
        control = box;
        break;
    }
    case ControlKind::TrackBar: {
        auto* slider = new QSlider(Qt::Horizontal, parent);
        slider->setRange(p.min, p.max);
        slider->setTickPosition(QSlider::NoTicks);
        slider->setPageStep(1);
        control = slider;
        break;
    }
    case ControlKind::MaskEdit: {
        auto* edit = new QLineEdit(parent);
        // Eight optional digits; an untyped position shows, and stores, as 0.
        edit->setInputMask(QStringLiteral("00000000;0"));
        edit->setMaxLength(8);
        control = edit;
        break;
    }
    }
    control->setObjectName(name);
    control->setToolTip(hint);
    if (hinted) hinted->setToolTip(hint);

    if (p.label)
        addLabel(qs(p.label), parent, layout, control);
    else if (p.edit && QByteArray(p.edit).endsWith("_LabeledEdit"))
        addLabel(editLabelName(qs(p.edit)), parent, layout, control);
    if (layout) layout->addWidget(control);
    return control;
}

QButtonGroup* radioButtons(const QWidget* radioGroup) {
    return radioGroup->findChild<QButtonGroup*>(radioGroup->objectName() + QStringLiteral("_Buttons"),
                                                Qt::FindDirectChildrenOnly);
}

void commitTypedText(const Parameter& p, QWidget* control) {
    if (p.kind == ControlKind::UpDown) {
        static_cast<QSpinBox*>(control)->interpretText();
    } else if (p.kind == ControlKind::ComboBox) {
        auto* combo = static_cast<QComboBox*>(control);
        const QString text = combo->currentText();
        const int index = combo->currentIndex();
        if (index < 0 ? text.isEmpty() : combo->itemText(index) == text) return;
        combo->setCurrentIndex(combo->findText(text, Qt::MatchFixedString));
    }
}

ControlState readSetting(const Parameter& p, const QWidget* control) {
    ControlState s;
    switch (p.kind) {
    case ControlKind::UpDown: s.value = static_cast<const QSpinBox*>(control)->value(); break;
    case ControlKind::CheckBox:
    case ControlKind::BitCheck: s.value = static_cast<const QCheckBox*>(control)->isChecked() ? 1 : 0; break;
    case ControlKind::ComboBox: s.value = static_cast<const QComboBox*>(control)->currentIndex(); break;
    case ControlKind::RadioGroup: s.value = radioButtons(control)->checkedId(); break;
    case ControlKind::TrackBar: s.value = static_cast<const QSlider*>(control)->value(); break;
    case ControlKind::MaskEdit:
        // The displayed text keeps every position; untyped ones show the blank 0.
        s.text = static_cast<const QLineEdit*>(control)->displayText().toStdString();
        break;
    }
    return s;
}

void writeSetting(const Parameter& p, QWidget* control, const ControlState& s) {
    switch (p.kind) {
    case ControlKind::UpDown: static_cast<QSpinBox*>(control)->setValue(s.value); break;
    case ControlKind::CheckBox:
    case ControlKind::BitCheck: static_cast<QCheckBox*>(control)->setChecked(s.value != 0); break;
    case ControlKind::ComboBox: {
        auto* combo = static_cast<QComboBox*>(control);
        if (p.items == Items::Numbers256) {
            combo->clear();
            combo->addItems(numbers256());
        }
        combo->setCurrentIndex(s.value >= 0 && s.value < combo->count() ? s.value : -1);
        break;
    }
    case ControlKind::RadioGroup: {
        QButtonGroup* buttons = radioButtons(control);
        if (QAbstractButton* b = buttons->button(s.value)) {
            b->setChecked(true);
        } else if (QAbstractButton* checked = buttons->checkedButton()) {
            buttons->setExclusive(false);
            checked->setChecked(false);
            buttons->setExclusive(true);
        }
        break;
    }
    case ControlKind::TrackBar: static_cast<QSlider*>(control)->setValue(s.value); break;
    case ControlKind::MaskEdit: static_cast<QLineEdit*>(control)->setText(QString::fromStdString(s.text)); break;
    }
}

}  // namespace kelvane::shell
