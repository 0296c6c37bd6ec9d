#pragma once
// Answers the main window's message boxes and file dialogs from a script and
// records what they showed.
#include "shell/prompts.h"

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
    std::deque<bool> abortAnswers;   // answers of the Abort/Ignore box, Ignore when empty
    std::deque<QString> files;       // answers of file dialogs, cancelled when empty
    std::deque<std::function<int(QDialog*)>> dialogs;  // run other dialogs, rejected when empty
    QList<Shown> shown;

    bool abortOrIgnore(QWidget*, const QString& title, const QString& text) override {
        shown.append({QStringLiteral("warning"), title, text});
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
