#pragma once
// The list of automatic backups, newest first: date and time, port, number
// of residents and keys. Open hands the chosen file to the window, which
// loads it as LOAD does; another button opens the folder in the file manager.
#include "shell/backups.h"

#include <QDialog>

#include <functional>

class QTreeWidget;

namespace kelvane::shell {

class BackupsDialog : public QDialog {
    Q_OBJECT
public:
    // Its texts, dates and times in `language` of the language table.
    BackupsDialog(QWidget* parent, const QString& folder, int language);
    // The backup chosen with Open (or a double click); empty when closed.
    QString chosenPath() const { return chosen_; }
    QTreeWidget* list() const { return list_; }
    // Opens the folder; the file manager unless a test replaces it.
    std::function<void(const QString& folder)> openFolder;

private:
    QString folder_;
    QString chosen_;
    QTreeWidget* list_;
};

}  // namespace kelvane::shell
