#include "shell/port_dialog.h"

#include "session/system_ports.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>

namespace kelvane::shell {
namespace {

// Draws a list entry as its name and, after a dash, what the system knows of
// the port; the entry's text itself stays the name.
class PortEntryDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString details = index.data(PortDialog::kDetailsRole).toString();
        if (!details.isEmpty()) option->text += QStringLiteral(" \u2013 ") + details;
    }
};

}  // namespace

PortDialog::PortDialog(QWidget* parent)
    : QDialog(parent), portSource_(session::systemPorts), refresh_(new QTimer(this)) {
    setObjectName("OKRightDlg");
    setWindowTitle("Wybierz port");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(383, 179);

    frame_ = new QFrame(this);
    frame_->setObjectName("Bevel1");
    frame_->setFrameShape(QFrame::Box);
    frame_->setFrameShadow(QFrame::Sunken);
    frame_->setGeometry(8, 8, 281, 161);

    portCombo_ = new QComboBox(this);
    portCombo_->setObjectName("ComboBox1");
    portCombo_->setEditable(true);
    portCombo_->setInsertPolicy(QComboBox::NoInsert);
    portCombo_->setGeometry(40, 76, 217, 24);
    // A hint, not a name: OK stays unavailable until a port is picked or typed.
    portCombo_->lineEdit()->setPlaceholderText("Wybierz port COM");
    portCombo_->setEditText(QString());
    portCombo_->setItemDelegate(new PortEntryDelegate(portCombo_));
    connect(portCombo_, &QComboBox::currentTextChanged, this, &PortDialog::showDetailsOfText);

    okButton_ = new QPushButton("OK", this);
    okButton_->setObjectName("OKBtn");
    okButton_->setGeometry(300, 8, 75, 25);
    okButton_->setDefault(true);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    okButton_->setEnabled(false);
    connect(portCombo_, &QComboBox::currentTextChanged, okButton_,
            [this](const QString& text) { okButton_->setEnabled(!text.trimmed().isEmpty()); });

    cancelButton_ = new QPushButton("Cancel", this);
    cancelButton_->setObjectName("CancelBtn");
    cancelButton_->setGeometry(300, 38, 75, 25);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

    refresh_->setInterval(kRefreshMs);
    connect(refresh_, &QTimer::timeout, this, &PortDialog::refreshPorts);
}

void PortDialog::setPortSource(std::function<QStringList()> names) {
    portSource_ = [names = std::move(names)] {
        std::vector<link::PortInfo> ports;
        for (const QString& name : names()) ports.push_back({name.toStdString(), {}, {}, {}, {}, false, {}});
        return ports;
    };
}

QString PortDialog::chosenText() const { return portCombo_->currentText(); }

void PortDialog::refillPortList() {
    std::vector<link::PortInfo> ports = this->ports();
    lastSeen_ = ports;
    if (ports.empty() && portCombo_->count() > 0) return;  // keep the last list
    fill(std::move(ports));
}

void PortDialog::refreshPorts() {
    if (portCombo_->view()->isVisible()) return;  // not under the technician's pointer
    std::vector<link::PortInfo> ports = this->ports();
    if (link::samePorts(ports, lastSeen_)) return;
    lastSeen_ = ports;
    fill(std::move(ports));
}

void PortDialog::fill(std::vector<link::PortInfo> ports) {
    const bool simulatorListed =
        std::any_of(ports.begin(), ports.end(), [](const link::PortInfo& p) { return p.name == kSimulatorPortName; });
    if (!simulatorListed) ports.push_back({kSimulatorPortName, {}, {}, {}, {}, false, {}});
    link::sortPorts(ports);
    const QString typed = portCombo_->currentText();
    const int cursor = portCombo_->lineEdit()->cursorPosition();
    portCombo_->clear();
    for (const link::PortInfo& p : ports) {
        const QString details = QString::fromStdString(link::portDetails(p));
        portCombo_->addItem(QString::fromStdString(p.name));
        const int i = portCombo_->count() - 1;
        portCombo_->setItemData(i, details, kDetailsRole);
        if (!details.isEmpty()) portCombo_->setItemData(i, details, Qt::ToolTipRole);
    }
    // A typed name that is not on the list must leave no list entry current:
    // Enter in the box would put that entry's text back over the typed one.
    portCombo_->setCurrentIndex(portCombo_->findText(typed));
    portCombo_->setEditText(typed);
    portCombo_->lineEdit()->setCursorPosition(cursor);
    // The dropped-down list is as wide as its longest entry needs.
    portCombo_->view()->setMinimumWidth(portCombo_->view()->sizeHintForColumn(0) + 24);
    showDetailsOfText();
}

void PortDialog::showDetailsOfText() {
    const int i = portCombo_->findText(portCombo_->currentText());
    portCombo_->setToolTip(i < 0 ? QString() : portCombo_->itemData(i, kDetailsRole).toString());
}

void PortDialog::showEvent(QShowEvent* event) {
    refillPortList();
    if (QScreen* screen = QGuiApplication::primaryScreen())  // centred on the screen
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
    refresh_->start();
}

void PortDialog::hideEvent(QHideEvent* event) {
    refresh_->stop();
    QDialog::hideEvent(event);
}

}  // namespace kelvane::shell
