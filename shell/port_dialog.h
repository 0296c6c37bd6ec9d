#pragma once
// The port dialog: the technician picks (or types) the controller's port.
// Created once and kept for the whole run; every time it is shown, refillPortList
// refills the list from the system's serial ports, plus the built-in
// simulator entry. While it is open the list follows adapters that come and
// go. An entry's text is the port's name; the dropped-down list also tells
// what the system knows of the port (description, manufacturer, serial
// number), which the box shows as its tooltip too.
#include "link/port_info.h"
#include "session/device_port.h"

#include <QDialog>
#include <QStringList>

#include <functional>
#include <vector>

class QComboBox;
class QFrame;
class QPushButton;
class QTimer;

namespace kelvane::shell {

// The list entry of the built-in simulated controller.
using session::kSimulatorPortName;

class PortDialog : public QDialog {
    Q_OBJECT
public:
    using PortInfoSource = std::function<std::vector<link::PortInfo>()>;

    // The item data role of an entry's details.
    static constexpr int kDetailsRole = Qt::UserRole + 1;
    // How often the open dialog looks at the system's ports.
    static constexpr int kRefreshMs = 1000;

    explicit PortDialog(QWidget* parent = nullptr);

    // The ports to list; the system's serial ports unless a test sets another source.
    void setPortInfoSource(PortInfoSource source) { portSource_ = std::move(source); }
    // The same by names alone.
    void setPortSource(std::function<QStringList()> names);

    // The ports the source lists now.
    std::vector<link::PortInfo> ports() const { return portSource_ ? portSource_() : std::vector<link::PortInfo>{}; }

    // The combo box's text as the technician left it: a listed port or anything typed.
    QString chosenText() const;

    // Refills the list: the ports, sorted by text, and the simulator entry
    // (left out if a real port has that name). Leaves the list as it was when
    // the system lists no port. The typed text survives the refill.
    void refillPortList();
    // Looks at the system's ports again and refills the list when they
    // changed since the last look (a list that became empty too); nothing
    // while the list is dropped down.
    void refreshPorts();

    QFrame* frame_;
    QComboBox* portCombo_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void fill(std::vector<link::PortInfo> ports);
    void showDetailsOfText();

    PortInfoSource portSource_;
    std::vector<link::PortInfo> lastSeen_;
    QTimer* refresh_;
};

}  // namespace kelvane::shell
