#pragma once
// Answers the main window's message boxes and file dialogs from a script and
// records what they showed.
#include "shell/prompts.h"
#include "texts/language_table.h"

#include <QDialog>
#include <QFileDialog>
#include <QStringList>

#include <deque>
#include <functional>

struct ScriptedPrompts : kelvane::shell::Prompts {
    struct Shown {
        QString kind;  // "warning", "error", "message", "dialog"
        QString title;
        QString text;
        QString detail = QString();
    };
    std::deque<bool> abortAnswers;                     // answers of the Abort/Ignore box, Ignore when empty
    std::deque<QString> files;                         // answers of file dialogs, cancelled when empty
    std::deque<std::function<int(QDialog*)>> dialogs;  // run other dialogs, rejected when empty
    std::deque<int> choices;                           // buttons chosen in choose(), the default button when empty
    std::deque<kelvane::shell::UploadAnswer> uploadAnswers;  // the default button when empty
    std::deque<QString> backups;                             // backups chosen, none when empty
    QList<Shown> shown;

    bool abortOrIgnore(QWidget*, const QString& title, const QString& text, const QString& detail = QString()) override {
        shown.append({QStringLiteral("warning"), title, text, detail});
        if (abortAnswers.empty()) return false;
        const bool answer = abortAnswers.front();
        abortAnswers.pop_front();
        return answer;
    }
    void error(QWidget*, const QString& title, const QString& text) override {
        shown.append({QStringLiteral("error"), title, text});
    }
    void message(QWidget*, const QString& title, const QString& text, const QString& detail = QString()) override {
        shown.append({QStringLiteral("message"), title, text, detail});
    }
    int choose(QWidget*, const QString& title, const QString& text, const QStringList& buttons, int defaultButton,
               int) override {
        shown.append({QStringLiteral("choice"), title, text + QStringLiteral("\n[") + buttons.join(QLatin1Char('|')) + "]"});
        if (choices.empty()) return defaultButton;
        const int c = choices.front();
        choices.pop_front();
        return c;
    }
    // Shown as "changes": the warning, the note and the list as plain text.
    kelvane::shell::UploadAnswer showChanges(QWidget*, const kelvane::shell::ChangeDialogTexts& texts,
                                             const std::vector<kelvane::texts::ChangeGroup>& groups) override {
        shown.append(
            {QStringLiteral("changes"), texts.title,
             texts.warning + "\n" + texts.note + "\n" + QString::fromStdString(kelvane::texts::changeListText(groups))});
        lastChangeTexts = texts;
        if (uploadAnswers.empty()) {
            kelvane::shell::UploadAnswer a;
            a.send = !texts.accept.isEmpty() && !texts.rejectIsDefault;
            a.checkAfter = texts.checkAfterTicked;
            return a;
        }
        const auto a = uploadAnswers.front();
        uploadAnswers.pop_front();
        return a;
    }
    QString chooseBackup(QWidget*, const QString& folder, int language) override {
        shown.append({QStringLiteral("backups"),
                      QString::fromUtf8(kelvane::texts::messageText(kelvane::texts::Message::BackupsTitle, language)),
                      folder});
        if (backups.empty()) return {};
        const QString b = backups.front();
        backups.pop_front();
        return b;
    }
    kelvane::shell::ChangeDialogTexts lastChangeTexts;
    QString chooseFile(QFileDialog* dialog) override {
        shown.append({QStringLiteral("dialog"), dialog->windowTitle(), dialog->objectName()});
        if (files.empty()) return {};
        const QString f = files.front();
        files.pop_front();
        return f;
    }
    int runDialog(QDialog* dialog) override {
        shown.append({QStringLiteral("run"), dialog->windowTitle(), dialog->objectName()});
        if (dialogs.empty()) return QDialog::Rejected;
        const auto run = dialogs.front();
        dialogs.pop_front();
        return run(dialog);
    }
};
