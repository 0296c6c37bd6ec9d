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

namespace kelvane::link {
namespace {

// Draws a list entry as its name and, after a dash, what the system knows of
// the port; the entry's text itself stays the name.
class PortEntryDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString details = index.data(TOKRightDlg::kDetailsRole).toString();
        if (!details.isEmpty()) option->text += QStringLiteral(" \u2013 ") + details;
    }
};

}  // namespace

TOKRightDlg::TOKRightDlg(QWidget* parent)
    : QDialog(parent), portSource_(serial::systemPorts), refresh_(new QTimer(this)) {
    setObjectName("OKRightDlg");
    setWindowTitle("Wybierz port");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(383, 179);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 8, 281, 161);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setGeometry(40, 76, 217, 24);
    ComboBox1->setEditText("Wybierz port COM");
    ComboBox1->setItemDelegate(new PortEntryDelegate(ComboBox1));
    connect(ComboBox1, &QComboBox::currentTextChanged, this, &TOKRightDlg::showDetailsOfText);

    OKBtn = new QPushButton("OK", this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setGeometry(300, 8, 75, 25);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);

    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setObjectName("CancelBtn");
    CancelBtn->setGeometry(300, 38, 75, 25);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    refresh_->setInterval(kRefreshMs);
    connect(refresh_, &QTimer::timeout, this, &TOKRightDlg::refreshPorts);
}

void TOKRightDlg::setPortSource(std::function<QStringList()> names) {
    portSource_ = [names = std::move(names)] {
        std::vector<serial::PortInfo> ports;
        for (const QString& name : names()) ports.push_back({name.toStdString(), {}, {}, {}, {}, false, {}});
        return ports;
    };
}

QString TOKRightDlg::chosenText() const { return ComboBox1->currentText(); }

void TOKRightDlg::FormShow() {
    std::vector<serial::PortInfo> ports = this->ports();
    lastSeen_ = ports;
    if (ports.empty() && ComboBox1->count() > 0) return;  // keep the last list
    fill(std::move(ports));
}

void TOKRightDlg::refreshPorts() {
    if (ComboBox1->view()->isVisible()) return;  // not under the technician's pointer
    std::vector<serial::PortInfo> ports = this->ports();
    if (serial::samePorts(ports, lastSeen_)) return;
    lastSeen_ = ports;
    fill(std::move(ports));
}

void TOKRightDlg::fill(std::vector<serial::PortInfo> ports) {
    const bool simulatorListed = std::any_of(ports.begin(), ports.end(),
                                             [](const serial::PortInfo& p) { return p.name == kSimulatorPortName; });
    if (!simulatorListed) ports.push_back({kSimulatorPortName, {}, {}, {}, {}, false, {}});
    serial::sortPorts(ports);
    const QString typed = ComboBox1->currentText();
    const int cursor = ComboBox1->lineEdit()->cursorPosition();
    ComboBox1->clear();
    for (const serial::PortInfo& p : ports) {
        const QString details = QString::fromStdString(serial::portDetails(p));
        ComboBox1->addItem(QString::fromStdString(p.name));
        const int i = ComboBox1->count() - 1;
        ComboBox1->setItemData(i, details, kDetailsRole);
        if (!details.isEmpty()) ComboBox1->setItemData(i, details, Qt::ToolTipRole);
    }
    // A typed name that is not on the list must leave no list entry current:
    // Enter in the box would put that entry's text back over the typed one.
    ComboBox1->setCurrentIndex(ComboBox1->findText(typed));
    ComboBox1->setEditText(typed);
    ComboBox1->lineEdit()->setCursorPosition(cursor);
    // The dropped-down list is as wide as its longest entry needs.
    ComboBox1->view()->setMinimumWidth(ComboBox1->view()->sizeHintForColumn(0) + 24);
    showDetailsOfText();
}

void TOKRightDlg::showDetailsOfText() {
    const int i = ComboBox1->findText(ComboBox1->currentText());
    ComboBox1->setToolTip(i < 0 ? QString() : ComboBox1->itemData(i, kDetailsRole).toString());
}

void TOKRightDlg::showEvent(QShowEvent* event) {
    FormShow();
    if (QScreen* screen = QGuiApplication::primaryScreen())  // centred on the screen
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
    refresh_->start();
}

void TOKRightDlg::hideEvent(QHideEvent* event) {
    refresh_->stop();
    QDialog::hideEvent(event);
}

}  // namespace kelvane::link
