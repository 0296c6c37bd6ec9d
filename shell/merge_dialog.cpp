#include "shell/merge_dialog.h"

#include "shell/change_view.h"
#include "texts/language_table.h"
#include "texts/merge_text.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kelvane::shell {

MergeDialog::MergeDialog(QWidget* parent, const ThreeWayMerge& merge, const MergeDialogTexts& texts, int language)
    : QDialog(parent), itemCount_(merge.items.size()) {
    setObjectName(QStringLiteral("MergeDialog"));
    setWindowTitle(texts.title);
    auto* layout = new QVBoxLayout(this);

    // Sent and kept as the change list shows groups; the conflicts below as rows to decide.
    std::vector<texts::ChangeGroup> groups = texts::DescribeMerge(merge, texts.baseDate.toStdString(), language);
    const std::string conflictsTitle = texts::messageText(texts::Message::MergeConflicts, language);
    texts::ChangeGroup conflictGroup;
    if (!groups.empty() && groups.back().title == conflictsTitle) {
        conflictGroup = groups.back();
        groups.pop_back();
    }
    auto* tree = new QTreeWidget(this);
    tree->setObjectName(QStringLiteral("MergeTree"));
    tree->setHeaderHidden(true);
    tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tree->header()->setStretchLastSection(false);
    FillChangeTree(tree, groups);
    tree->setVisible(!groups.empty());
    layout->addWidget(tree, 1);

    for (std::size_t i = 0; i < merge.items.size(); ++i)
        if (merge.items[i].state == MergeState::Conflict) conflicts_.push_back(i);
    auto* title = new QLabel(
        QStringLiteral("<b>%1 (%2)</b>").arg(QString::fromStdString(conflictsTitle)).arg(conflicts_.size()), this);
    auto* table = new QTableWidget(static_cast<int>(conflicts_.size()), 3, this);
    table->setObjectName(QStringLiteral("MergeConflicts"));
    table->setHorizontalHeaderLabels({texts.itemColumn, texts.fileColumn, texts.controllerColumn});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    for (std::size_t row = 0; row < conflicts_.size(); ++row) {
        const MergeItem& item = merge.items[conflicts_[row]];
        const int r = static_cast<int>(row);
        table->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(texts::MergeItemName(item, language))));
        auto* group = new QButtonGroup(this);
        const MergeSide sides[] = {kFileSide, kControllerSide};
        const char* names[] = {"ChooseFile", "ChooseController"};
        for (int s = 0; s < 2; ++s) {
            auto* choice =
                new QRadioButton(QString::fromStdString(texts::MergeItemValue(item, sides[s], language)), table);
            choice->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(names[s])).arg(row));
            group->addButton(choice, s);
            table->setCellWidget(r, 1 + s, choice);
        }
        connect(group, &QButtonGroup::idClicked, this, &MergeDialog::updateSend);
        choices_.push_back(group);
    }
    title->setVisible(!conflicts_.empty());
    table->setVisible(!conflicts_.empty());
    layout->addWidget(title);
    layout->addWidget(table, 1);

    overwrite_ = new QCheckBox(texts.overwrite, this);
    overwrite_->setObjectName(QStringLiteral("OverwriteController"));
    connect(overwrite_, &QCheckBox::toggled, this, &MergeDialog::updateSend);
    layout->addWidget(overwrite_);

    auto* buttons = new QDialogButtonBox(this);
    send_ = buttons->addButton(texts.send, QDialogButtonBox::AcceptRole);
    send_->setObjectName(QStringLiteral("AcceptButton"));
    send_->setAutoDefault(false);
    QPushButton* cancel = buttons->addButton(texts.cancel, QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("RejectButton"));
    cancel->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    cancel->setFocus();
    resize(900, 560);
    updateSend();
}

void MergeDialog::updateSend() {
    bool decided = true;
    for (const QButtonGroup* g : choices_) decided = decided && g->checkedId() >= 0;
    send_->setEnabled(decided || overwrite_->isChecked());
}

MergeAnswer MergeDialog::answer(int result) const {
    MergeAnswer a;
    a.send = result == QDialog::Accepted && send_->isEnabled();
    a.overwrite = overwrite_->isChecked();
    a.choices.assign(itemCount_, MergeChoice::Undecided);
    for (std::size_t row = 0; row < conflicts_.size(); ++row) {
        const int id = choices_[row]->checkedId();
        if (id >= 0) a.choices[conflicts_[row]] = id == 0 ? MergeChoice::File : MergeChoice::Controller;
    }
    return a;
}

}  // namespace kelvane::shell
