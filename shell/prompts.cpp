#include "shell/prompts.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFileDialog>
#include <QMessageBox>

namespace kelvane::shell {

bool WidgetPrompts::abortOrIgnore(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Abort | QMessageBox::Ignore, parent);
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

}  // namespace kelvane::shell
