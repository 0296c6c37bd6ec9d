#pragma once
// Every modal question the main window asks: message boxes and the two file
// dialogs. The window asks through this interface so that a test can answer.
#include "shell/backups_dialog.h"
#include "shell/change_view.h"

#include <QString>
#include <QStringList>

#include <vector>

class QDialog;
class QFileDialog;
class QWidget;

namespace kelvane::shell {

class Prompts {
public:
    virtual ~Prompts() = default;
    // Warning box with the buttons Abort and Ignore; true only when the user
    // chose Abort (closing the box any other way counts as Ignore).
    virtual bool abortOrIgnore(QWidget* parent, const QString& title, const QString& text,
                               const QString& detail = QString()) = 0;
    // Error box with the single button OK.
    virtual void error(QWidget* parent, const QString& title, const QString& text) = 0;
    // Plain box with the single button OK; a detail, when given, under the text.
    virtual void message(QWidget* parent, const QString& title, const QString& text, const QString& detail = QString()) = 0;
    // Runs a file dialog; the chosen path, or an empty text when cancelled.
    virtual QString chooseFile(QFileDialog* dialog) = 0;
    // Runs any other modal dialog; its result code (QDialog::Accepted...).
    virtual int runDialog(QDialog* dialog);
    // A warning box with the given buttons; the index of the one chosen.
    // Enter gives `defaultButton`, Esc and the close button `escapeButton`.
    virtual int choose(QWidget* parent, const QString& title, const QString& text, const QStringList& buttons,
                       int defaultButton, int escapeButton) = 0;
    // A change list to look at, or (with an accept button) to answer.
    virtual UploadAnswer showChanges(QWidget* parent, const ChangeDialogTexts& texts,
                                     const std::vector<texts::ChangeGroup>& groups) = 0;
    // The list of backups; the file chosen with Open, or an empty text.
    virtual QString chooseBackup(QWidget* parent, const QString& folder, int language) = 0;
};

// The real boxes and dialogs.
class WidgetPrompts : public Prompts {
public:
    bool abortOrIgnore(QWidget* parent, const QString& title, const QString& text,
                       const QString& detail = QString()) override;
    void error(QWidget* parent, const QString& title, const QString& text) override;
    void message(QWidget* parent, const QString& title, const QString& text, const QString& detail = QString()) override;
    QString chooseFile(QFileDialog* dialog) override;
    int choose(QWidget* parent, const QString& title, const QString& text, const QStringList& buttons,
               int defaultButton, int escapeButton) override;
    UploadAnswer showChanges(QWidget* parent, const ChangeDialogTexts& texts,
                             const std::vector<texts::ChangeGroup>& groups) override;
    QString chooseBackup(QWidget* parent, const QString& folder, int language) override;
};

}  // namespace kelvane::shell
