#include "shell/key_dialog.h"

#include "jobs/key_transfer.h"
#include "registry/building_register.h"
#include "shell/main_window.h"
#include "shell/prompts.h"
#include "texts/language_table.h"
#include "texts/visit_texts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <utility>

namespace kelvane::shell {

namespace {

using texts::Message;

class KeyWindow {
public:
    KeyWindow(MainWindow& form, std::function<void()> beforeImport)
        : form_(form), beforeImport_(std::move(beforeImport)), language_(form.CurrentLanguage()) {}

    void show() {
        QDialog dialog(&form_);
        dialog.setObjectName(QStringLiteral("DataKeyDialog"));
        dialog.setWindowTitle(text(Message::KeyTitle));
        auto* layout = new QVBoxLayout(&dialog);
        status_ = new QLabel(&dialog);
        status_->setObjectName(QStringLiteral("KeyStatusLabel"));
        status_->setWordWrap(true);
        status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        status_->setMinimumWidth(420);
        layout->addWidget(status_);
        auto* row = new QHBoxLayout;
        export_ = new QPushButton(text(Message::KeyExportButton), &dialog);
        export_->setObjectName(QStringLiteral("KeyExportButton"));
        auto* import = new QPushButton(text(Message::KeyImportButton), &dialog);
        import->setObjectName(QStringLiteral("KeyImportButton"));
        auto* close = new QPushButton(text(Message::ButtonClose), &dialog);
        close->setObjectName(QStringLiteral("KeyCloseButton"));
        move_ = new QPushButton(text(Message::KeyMoveButton), &dialog);
        move_->setObjectName(QStringLiteral("KeyMoveButton"));
        row->addWidget(export_);
        row->addWidget(import);
        row->addWidget(move_);
        row->addStretch();
        row->addWidget(close);
        layout->addLayout(row);
        QObject::connect(export_, &QPushButton::clicked, &dialog, [this, &dialog] { exportKey(&dialog); });
        QObject::connect(import, &QPushButton::clicked, &dialog, [this, &dialog] { importKey(&dialog); });
        QObject::connect(move_, &QPushButton::clicked, &dialog, [this] { moveKey(); });
        QObject::connect(close, &QPushButton::clicked, &dialog, &QDialog::reject);
        refresh();
        form_.prompts().runDialog(&dialog);
    }

private:
    QString text(Message m) const { return QString::fromUtf8(texts::messageText(m, language_)); }
    // The text with each "%s" / "%d" given in turn.
    QString filled(Message m, const QStringList& values) const {
        QString t = text(m);
        for (const QString& v : values) {
            const int s = t.indexOf(QLatin1String("%s")), d = t.indexOf(QLatin1String("%d"));
            const int at = s < 0 ? d : d < 0 ? s : std::min(s, d);
            if (at < 0) break;
            t.replace(at, 2, v);
        }
        return t;
    }

    void refresh() {
        const jobs::KeyStatus s = jobs::keyStatus();
        QString shown;
        if (!s.keyId) {
            const jobs::KeyNote why{s.missing, s.fileFault, s.detail};
            shown = filled(Message::KeyNone, {QString::fromStdString(texts::keyMissingText(why, language_))});
        } else if (s.ownFile) {
            shown = filled(Message::KeyInOwnFile, {QString::fromStdString(*s.keyId), QString::fromStdString(s.keyFile)});
            if (s.keychainFree) shown += QLatin1Char('\n') + text(Message::KeyMoveOffer);
        } else if (s.keyFile.empty()) {
            shown = filled(Message::KeyInKeychain, {QString::fromStdString(*s.keyId)});
        } else {
            shown = filled(Message::KeyInFile, {QString::fromStdString(*s.keyId), QString::fromStdString(s.keyFile)});
        }
        if (s.previousId)
            shown += QLatin1Char('\n') + filled(Message::KeyPrevious, {QString::fromStdString(*s.previousId)});
        status_->setText(shown);
        export_->setEnabled(s.keyId.has_value());
        // Offered only where it can be done: the key in the own file, and a
        // keychain that answers without a key of its own.
        move_->setVisible(s.ownFile && s.keychainFree);
    }

    void moveKey() {
        const jobs::KeyMove m = jobs::moveKeyToKeychain();
        refresh();
        if (m.end == jobs::KeyMoveEnd::Moved)
            done(filled(Message::KeyMoved, {QString::fromStdString(m.keyId), QString::fromStdString(m.file)}));
        else
            fail(filled(Message::KeyNotMoved, {QString::fromStdString(m.why)}));
    }

    QString chooseFile(QWidget* parent, bool save) {
        QFileDialog files(parent, text(save ? Message::KeyExportButton : Message::KeyImportButton));
        files.setObjectName(save ? QStringLiteral("KeyExportFile") : QStringLiteral("KeyImportFile"));
        files.setNameFilter(text(Message::KeyFileFilter));
        files.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        files.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        if (save) files.setDefaultSuffix(QStringLiteral("kvk"));
        return form_.prompts().chooseFile(&files);
    }

    // The passphrase (asked twice when `twice`); nothing when cancelled.
    std::optional<std::pair<QString, QString>> askPassphrase(QWidget* parent, bool twice) {
        QDialog ask(parent);
        ask.setObjectName(QStringLiteral("PassphraseDialog"));
        ask.setWindowTitle(text(Message::KeyTitle));
        auto* form = new QFormLayout(&ask);
        auto* first = new QLineEdit(&ask);
        first->setObjectName(QStringLiteral("PassphraseEdit"));
        first->setEchoMode(QLineEdit::Password);
        form->addRow(text(Message::KeyPassphrase), first);
        QLineEdit* again = nullptr;
        if (twice) {
            again = new QLineEdit(&ask);
            again->setObjectName(QStringLiteral("PassphraseAgainEdit"));
            again->setEchoMode(QLineEdit::Password);
            form->addRow(text(Message::KeyPassphraseAgain), again);
        }
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &ask);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &ask, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
        form->addRow(buttons);
        if (form_.prompts().runDialog(&ask) != QDialog::Accepted) return std::nullopt;
        return std::make_pair(first->text(), again ? again->text() : first->text());
    }

    void fail(const QString& why) { form_.prompts().error(&form_, text(Message::KeyTitle), why); }
    void done(const QString& what) { form_.prompts().message(&form_, text(Message::KeyTitle), what); }

    void exportKey(QWidget* parent) {
        const QString file = chooseFile(parent, true);
        if (file.isEmpty()) return;
        const auto pass = askPassphrase(parent, true);
        if (!pass) return;
        const std::string first = pass->first.toStdString();
        switch (jobs::checkNewPassphrase(first, pass->second.toStdString())) {
        case jobs::PassphraseFault::None: break;
        case jobs::PassphraseFault::Differ: return fail(text(Message::KeyPassphrasesDiffer));
        case jobs::PassphraseFault::TooShort:
            return fail(filled(Message::KeyPassphraseShort, {QString::number(jobs::kMinPassphrase)}));
        }
        const jobs::KeyExport e = jobs::exportKey(file.toStdString(), first);
        if (e.end == jobs::KeyExportEnd::Written)
            done(filled(Message::KeyExported, {QString::fromStdString(e.keyId), file}));
        else
            fail(filled(Message::KeyNotWritten, {file}));
    }

    void importKey(QWidget* parent) {
        const QString file = chooseFile(parent, false);
        if (file.isEmpty()) return;
        const auto pass = askPassphrase(parent, false);
        if (!pass) return;
        if (beforeImport_) beforeImport_();
        const jobs::KeyImport i =
            jobs::importKey(file.toStdString(), pass->first.toStdString(), registry::Register::defaultPath());
        switch (i.end) {
        case jobs::KeyImportEnd::Stored: break;
        case jobs::KeyImportEnd::Unreadable: return fail(filled(Message::KeyUnreadable, {file}));
        case jobs::KeyImportEnd::WrongPassphrase: return fail(text(Message::KeyWrongPassphrase));
        case jobs::KeyImportEnd::TooMuchWork: return fail(text(Message::KeyTooMuchWork));
        case jobs::KeyImportEnd::CannotSeal:
            return fail(filled(Message::KeyNotStored,
                               {QString::fromUtf8(texts::toolText(texts::ToolText::KeyCannotSeal, language_))}));
        case jobs::KeyImportEnd::NotExported: return fail(text(Message::KeyNotExported));
        case jobs::KeyImportEnd::NotStored: return fail(filled(Message::KeyNotStored, {QString::fromStdString(i.why)}));
        }
        refresh();
        const jobs::Resealing& r = i.resealing;
        const QString id = QString::fromStdString(i.keyId);
        if (r.complete()) return done(filled(Message::KeyImported, {id}));
        QStringList left;
        if (!r.readBack) left << QString::fromStdString(r.why);
        if (!r.registerSealed) left << QString::fromStdString(r.registerWhy);
        for (const std::string& kept : r.kept) left << QString::fromStdString(kept);
        fail(filled(Message::KeyImportedPartly, {id, left.join(QStringLiteral("; "))}));
    }

    MainWindow& form_;
    std::function<void()> beforeImport_;
    int language_;
    QLabel* status_ = nullptr;
    QPushButton* export_ = nullptr;
    QPushButton* move_ = nullptr;
};

}  // namespace

void ShowDataKey(MainWindow& form, const std::function<void()>& beforeImport) { KeyWindow(form, beforeImport).show(); }

}  // namespace kelvane::shell
