#include "link/port_dialog.h"

#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSerialPortInfo>

#include <algorithm>

namespace kelvane::link {

QStringList systemPortNames() {
    QStringList names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) names << info.portName();
    return names;
}

TOKRightDlg::TOKRightDlg(QWidget* parent) : QDialog(parent), portSource_(systemPortNames) {
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

    OKBtn = new QPushButton("OK", this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setGeometry(300, 8, 75, 25);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);

    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setObjectName("CancelBtn");
    CancelBtn->setGeometry(300, 38, 75, 25);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

QString TOKRightDlg::chosenText() const { return ComboBox1->currentText(); }

void TOKRightDlg::FormShow() {
    QStringList ports = portSource_ ? portSource_() : QStringList{};
    if (ports.isEmpty() && ComboBox1->count() > 0) return;  // keep the last list
    if (!ports.contains(kSimulatorPortName)) ports << kSimulatorPortName;
    std::sort(ports.begin(), ports.end(),
              [](const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseInsensitive) < 0; });
    const QString typed = ComboBox1->currentText();
    ComboBox1->clear();
    ComboBox1->addItems(ports);
    // A typed name that is not on the list must leave no list entry current:
    // Enter in the box would put that entry's text back over the typed one.
    ComboBox1->setCurrentIndex(ComboBox1->findText(typed));
    ComboBox1->setEditText(typed);
}

void TOKRightDlg::showEvent(QShowEvent* event) {
    FormShow();
    if (QScreen* screen = QGuiApplication::primaryScreen())  // centred on the screen
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

}  // namespace kelvane::link
