#pragma once
// The configuration check's window: one row per warning with its kind, the
// place it names and its text. A double-click on a row (or Enter) asks the
// main window to go to that grid row or control; the window stays open so
// the technician can work down the list.
#include "image/configuration_check.h"

#include <QDialog>

#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

namespace kelvane::shell {

class CheckDialog : public QDialog {
    Q_OBJECT
public:
    explicit CheckDialog(QWidget* parent = nullptr);

    // Lists the warnings with the texts of the language; none gives one line saying so.
    void setWarnings(std::vector<Warning> warnings, int language);
    // The same warnings in another language.
    void setLanguage(int language);
    const std::vector<Warning>& warnings() const { return warnings_; }
    QTableWidget* list() const { return list_; }

signals:
    // A row was chosen: warnings()[index].
    void goTo(int index);

private:
    std::vector<Warning> warnings_;
    QTableWidget* list_ = nullptr;
    QLabel* empty_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace kelvane::shell
