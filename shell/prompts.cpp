#include "shell/prompts.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace kelvane::shell {

bool WidgetPrompts::abortOrIgnore(QWidget* parent, const QString& title, const QString& text, const QString& detail) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Abort | QMessageBox::Ignore, parent);
    box.setInformativeText(detail);  // under the text, on a line of its own
    // The message names the buttons "Abort" and "Ignore": Qt's translation must not rename them.
    box.button(QMessageBox::Abort)->setText(QStringLiteral("Abort"));
    box.button(QMessageBox::Ignore)->setText(QStringLiteral("Ignore"));
    // Escape and the close button mean Ignore; only the Abort button aborts.
    box.setEscapeButton(QMessageBox::Ignore);
    box.exec();
    return box.clickedButton() == box.button(QMessageBox::Abort);
}

void WidgetPrompts::error(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void WidgetPrompts::message(QWidget* parent, const QString& title, const QString& text, const QString& detail) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.setInformativeText(detail);
    box.exec();
}

int Prompts::runDialog(QDialog* dialog) { return dialog->exec(); }

QString WidgetPrompts::chooseFile(QFileDialog* dialog) {
    const int result = dialog->exec();
    // The name box's completion list may have come up just as Enter closed
    // the dialog; closing the dialog does not take it away.
    for (QCompleter* completer : dialog->findChildren<QCompleter*>())
        if (completer->popup()) completer->popup()->hide();
    if (result != QDialog::Accepted) return {};
    const QStringList files = dialog->selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

int WidgetPrompts::choose(QWidget* parent, const QString& title, const QString& text, const QStringList& buttons,
                          int defaultButton, int escapeButton) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
    QList<QPushButton*> added;
    for (const QString& b : buttons) added.append(box.addButton(b, QMessageBox::ActionRole));
    if (defaultButton >= 0 && defaultButton < added.size()) box.setDefaultButton(added[defaultButton]);
    if (escapeButton >= 0 && escapeButton < added.size()) box.setEscapeButton(added[escapeButton]);
    box.exec();
    const int chosen = added.indexOf(static_cast<QPushButton*>(box.clickedButton()));
    return chosen >= 0 ? chosen : escapeButton;
}

UploadAnswer WidgetPrompts::showChanges(QWidget* parent, const ChangeDialogTexts& texts,
                                        const std::vector<texts::ChangeGroup>& groups) {
    ChangeDialog dialog(parent, texts, groups);
    dialog.exec();
    return dialog.answer();
}

QString WidgetPrompts::chooseBackup(QWidget* parent, const QString& folder, int language) {
    BackupsDialog dialog(parent, folder, language);
    dialog.exec();
    return dialog.chosenPath();
}

}  // namespace kelvane::shell
