#include "shell/change_view.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kelvane::shell {

void fillChangeTree(QTreeWidget* tree, const std::vector<texts::ChangeGroup>& groups) {
    tree->clear();
    for (const texts::ChangeGroup& g : groups) {
        auto* branch = new QTreeWidgetItem(tree, {QString::fromStdString(g.title) + QStringLiteral(" (%1)").arg(g.count)});
        QFont bold = branch->font(0);
        bold.setBold(true);
        branch->setFont(0, bold);
        for (const std::string& line : g.lines) {
            auto* leaf = new QTreeWidgetItem(branch, {QString::fromStdString(line)});
            leaf->setToolTip(0, leaf->text(0));  // a warning can be wider than the screen
        }
        branch->setExpanded(true);
    }
}

ChangeDialog::ChangeDialog(QWidget* parent, const ChangeDialogTexts& texts, const std::vector<texts::ChangeGroup>& groups)
    : QDialog(parent) {
    setObjectName(QStringLiteral("ChangeDialog"));
    setWindowTitle(texts.title);
    auto* layout = new QVBoxLayout(this);
    if (!texts.warning.isEmpty()) {
        auto* warning = new QLabel(texts.warning, this);
        warning->setObjectName(QStringLiteral("ChangeWarning"));
        warning->setWordWrap(true);
        warning->setStyleSheet(QStringLiteral("QLabel { color: #b00000; font-weight: bold; }"));
        layout->addWidget(warning);
    }
    if (!texts.note.isEmpty()) {
        auto* note = new QLabel(texts.note, this);
        note->setObjectName(QStringLiteral("ChangeNote"));
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("ChangeTree"));
    tree_->setHeaderHidden(true);
    tree_->setUniformRowHeights(true);
    tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tree_->header()->setStretchLastSection(false);
    fillChangeTree(tree_, groups);
    tree_->setVisible(!groups.empty());
    // Wide enough for the longest line (the warnings are long sentences), within the screen.
    tree_->resizeColumnToContents(0);
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const int widest = screen ? screen->availableGeometry().width() * 9 / 10 : 1024;
    resize(qBound(640, tree_->columnWidth(0) + 60, qMax(640, widest)), 460);
    layout->addWidget(tree_, 1);
    if (!texts.checkAfter.isEmpty()) {
        checkAfter_ = new QCheckBox(texts.checkAfter, this);
        checkAfter_->setObjectName(QStringLiteral("CheckAfterSending"));
        checkAfter_->setChecked(texts.checkAfterTicked);
        layout->addWidget(checkAfter_);
    }
    if (!texts.dontAsk.isEmpty()) {
        dontAsk_ = new QCheckBox(texts.dontAsk, this);
        dontAsk_->setObjectName(QStringLiteral("DontAskAgain"));
        layout->addWidget(dontAsk_);
    }
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* accept = nullptr;
    if (!texts.accept.isEmpty()) {
        accept = buttons->addButton(texts.accept, QDialogButtonBox::AcceptRole);
        accept->setObjectName(QStringLiteral("AcceptButton"));
    }
    QPushButton* reject = buttons->addButton(texts.reject, QDialogButtonBox::RejectRole);
    reject->setObjectName(QStringLiteral("RejectButton"));
    QPushButton* preferred = accept && !texts.rejectIsDefault ? accept : reject;
    preferred->setDefault(true);
    preferred->setAutoDefault(true);
    if (QPushButton* other = preferred == accept ? reject : accept) other->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    preferred->setFocus();
}

UploadAnswer ChangeDialog::answer() const {
    UploadAnswer a;
    a.send = result() == QDialog::Accepted;
    a.dontAskAgain = dontAsk_ && dontAsk_->isChecked();
    a.checkAfter = checkAfter_ && checkAfter_->isChecked();
    return a;
}

}  // namespace kelvane::shell
