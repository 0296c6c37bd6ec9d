#include "shell/backups_dialog.h"

#include "shell/shown_time.h"
#include "texts/change_text.h"
#include "texts/language_table.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace kelvane::shell {

BackupsDialog::BackupsDialog(QWidget* parent, const QString& folder, int language) : QDialog(parent), folder_(folder) {
    using texts::Message;
    const auto text = [language](Message m) { return QString::fromUtf8(texts::messageText(m, language)); };
    setObjectName(QStringLiteral("BackupsDialog"));
    setWindowTitle(text(Message::BackupsTitle));
    resize(640, 400);
    openFolder = [](const QString& f) {
        QDir().mkpath(f);
        QDesktopServices::openUrl(QUrl::fromLocalFile(f));
    };
    auto* layout = new QVBoxLayout(this);
    auto* where = new QLabel(QDir::toNativeSeparators(folder), this);
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(where);
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("BackupList"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setHeaderLabels({text(Message::BackupsWhen), text(Message::BackupsSource), text(Message::BackupsPort),
                            QString::fromStdString(texts::gridCaption(GridId::Residents, language)),
                            QString::fromStdString(texts::gridCaption(GridId::Keys, language))});
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // The counts stand right under their headers, not at the far end of a stretched last column.
    list_->header()->setStretchLastSection(false);
    const auto right = Qt::AlignRight | Qt::AlignVCenter;
    for (int column : {3, 4}) list_->headerItem()->setTextAlignment(column, right);
    for (const BackupEntry& e : listBackups(folder)) {
        const QString source = e.source == BackupEntry::Source::Download ? text(Message::BackupsDownloaded)
                               : e.source == BackupEntry::Source::Upload ? text(Message::BackupsUploaded)
                                                                         : QString();
        auto* item = new QTreeWidgetItem(list_, {shownDateTime(e.when, language), source, e.port,
                                                 QString::number(e.residents), QString::number(e.keys)});
        item->setData(0, Qt::UserRole, e.path);
        item->setToolTip(0, e.description);
        for (int column : {3, 4}) item->setTextAlignment(column, right);
    }
    layout->addWidget(list_, 1);
    if (list_->topLevelItemCount() == 0) {
        auto* none = new QLabel(text(Message::BackupsNone), this);
        none->setObjectName(QStringLiteral("NoBackups"));
        layout->addWidget(none);
    } else {
        list_->setCurrentItem(list_->topLevelItem(0));
    }

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* open = buttons->addButton(text(Message::BackupsOpen), QDialogButtonBox::AcceptRole);
    open->setObjectName(QStringLiteral("OpenBackup"));
    open->setEnabled(list_->topLevelItemCount() > 0);
    open->setDefault(true);
    QPushButton* folderButton = buttons->addButton(text(Message::BackupsOpenFolder), QDialogButtonBox::ActionRole);
    folderButton->setObjectName(QStringLiteral("OpenBackupFolder"));
    folderButton->setAutoDefault(false);
    QPushButton* close = buttons->addButton(text(Message::ButtonClose), QDialogButtonBox::RejectRole);
    close->setAutoDefault(false);
    layout->addWidget(buttons);

    const auto take = [this] {
        if (QTreeWidgetItem* item = list_->currentItem()) {
            chosen_ = item->data(0, Qt::UserRole).toString();
            accept();
        }
    };
    connect(open, &QPushButton::clicked, this, take);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, take);
    connect(folderButton, &QPushButton::clicked, this, [this] {
        if (openFolder) openFolder(folder_);
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

}  // namespace kelvane::shell
