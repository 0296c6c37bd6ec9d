#pragma once
// The list of automatic backups, newest first: date and time, port, number
// of residents and keys. Open hands the chosen file to the window, which
// loads it as LOAD does; another button opens the folder in the file manager.
#include "shell/backups.h"

#include <QDialog>

#include <functional>

class QTreeWidget;

namespace kelvane::shell {

struct BackupsDialogTexts {
    QString source, downloaded, uploaded;  // the column saying what made each backup, and its values
    QString title, when, port, residents, keys, open, openFolder, close, none;
    int language = 0;  // of the backups' dates and times
};

class BackupsDialog : public QDialog {
    Q_OBJECT
public:
    BackupsDialog(QWidget* parent, const QString& folder, const BackupsDialogTexts& texts);
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
