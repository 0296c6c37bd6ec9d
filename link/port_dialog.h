#pragma once
// The port dialog: the technician picks (or types) the controller's port.
// Created once and kept for the whole run; every time it is shown, FormShow
// refills the list from the system's serial ports, plus the built-in
// simulator entry.
#include <QDialog>
#include <QStringList>

#include <functional>

class QComboBox;
class QFrame;
class QPushButton;

namespace kelvane::link {

// The list entry of the built-in simulated controller.
inline constexpr const char* kSimulatorPortName = "Symulator";

class TOKRightDlg : public QDialog {
    Q_OBJECT
public:
    explicit TOKRightDlg(QWidget* parent = nullptr);

    // The port names to list; the system's serial ports unless a test sets another source.
    void setPortSource(std::function<QStringList()> source) { portSource_ = std::move(source); }

    // The combo box's text as the technician left it: a listed port or anything typed.
    QString chosenText() const;

    // Refills the list: the ports, sorted by text, and the simulator entry
    // (left out if a real port has that name). Leaves the list as it was when
    // the system lists no port. The typed text survives the refill.
    void FormShow();

    QFrame* Bevel1;
    QComboBox* ComboBox1;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::function<QStringList()> portSource_;
};

// The serial ports the system lists, by name (COM3, ttyUSB0...).
QStringList systemPortNames();

}  // namespace kelvane::link
