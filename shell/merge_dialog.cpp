#include "shell/merge_dialog.h"

#include "shell/change_view.h"
#include "texts/language_table.h"
#include "texts/merge_text.h"

#include <array>

#include <QButtonGroup>
#include <QStringList>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kelvane::shell {

namespace {

// The cells of a row's three values ("Kod logiczny 3, Kod otwarcia 0123, ...")
// that are not the same in all three: a conflict shows what it is about, not
// whole rows. A value that is no list of the same length stays whole.
std::array<QStringList, 3> differingCells(const std::array<std::string, 3>& values) {
    std::array<QStringList, 3> cells;
    for (int v = 0; v < 3; ++v) cells[v] = QString::fromStdString(values[v]).split(QStringLiteral(", "));
    if (cells[0].size() != cells[1].size() || cells[1].size() != cells[2].size()) {
        for (int v = 0; v < 3; ++v) cells[v] = QStringList{QString::fromStdString(values[v])};
        return cells;
    }
    std::array<QStringList, 3> differing;
    for (int i = 0; i < cells[0].size(); ++i)
        if (cells[0][i] != cells[1][i] || cells[1][i] != cells[2][i])
            for (int v = 0; v < 3; ++v) differing[v] << cells[v][i];
    return differing[0].isEmpty() ? cells : differing;
}

// The cells, those that differ from `other`'s in bold red.
QString marked(const QStringList& mine, const QStringList& other) {
    QStringList out;
    for (int i = 0; i < mine.size(); ++i) {
        const QString cell = mine[i].toHtmlEscaped();
        out << (i < other.size() && other[i] == mine[i]
                    ? cell
                    : QStringLiteral("<b style=\"color:#c00000\">") + cell + QStringLiteral("</b>"));
    }
    return out.join(QStringLiteral(", "));
}

}  // namespace

MergeDialog::MergeDialog(QWidget* parent, const ThreeWayMerge& merge, const MergeDialogOptions& options, int language,
                         Describe describe)
    : QDialog(parent), itemCount_(merge.items.size()), describe_(std::move(describe)) {
    setObjectName(QStringLiteral("MergeDialog"));
    const auto text = [language](texts::Message m) { return QString::fromUtf8(texts::messageText(m, language)); };
    setWindowTitle(text(texts::Message::UploadQuestionTitle));
    auto* layout = new QVBoxLayout(this);

    // Sent and kept as the change list shows groups; the conflicts below as rows to decide.
    const std::string baseDate = options.baseDate.toStdString();
    if (!describe_)
        describe_ = [merge, baseDate, language](const std::vector<MergeChoice>&, bool) {
            std::vector<texts::ChangeGroup> groups = texts::describeMerge(merge, baseDate, language);
            const std::string conflicts = texts::messageText(texts::Message::MergeConflicts, language);
            if (!groups.empty() && groups.back().title == conflicts) groups.pop_back();
            return groups;
        };
    const std::string conflictsTitle = texts::messageText(texts::Message::MergeConflicts, language);
    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("MergeTree"));
    tree_->setHeaderHidden(true);
    tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tree_->header()->setStretchLastSection(false);
    layout->addWidget(tree_, 1);

    for (std::size_t i = 0; i < merge.items.size(); ++i)
        if (merge.items[i].state == MergeState::Conflict) conflicts_.push_back(i);
    auto* title = new QLabel(
        QStringLiteral("<b>%1 (%2)</b>").arg(QString::fromStdString(conflictsTitle)).arg(conflicts_.size()), this);
    auto* table = new QTableWidget(static_cast<int>(conflicts_.size()), 4, this);
    table->setObjectName(QStringLiteral("MergeConflicts"));
    table->setHorizontalHeaderLabels({text(texts::Message::MergeItemColumn), text(texts::Message::MergeBase),
                                      text(texts::Message::MergeFile), text(texts::Message::MergeController)});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    for (std::size_t row = 0; row < conflicts_.size(); ++row) {
        const MergeItem& item = merge.items[conflicts_[row]];
        const int r = static_cast<int>(row);
        table->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(texts::mergeItemName(item, language))));
        const auto cells = differingCells({texts::mergeItemValue(item, kBaseSide, language),
                                           texts::mergeItemValue(item, kFileSide, language),
                                           texts::mergeItemValue(item, kControllerSide, language)});
        table->setItem(r, 1, new QTableWidgetItem(cells[0].join(QStringLiteral(", "))));
        auto* group = new QButtonGroup(this);
        const char* names[] = {"ChooseFile", "ChooseController"};
        for (int s = 0; s < 2; ++s) {
            // A radio button and beside it the value, what differs from the other side marked.
            auto* cell = new QWidget(table);
            auto* cellLayout = new QHBoxLayout(cell);
            cellLayout->setContentsMargins(4, 0, 4, 0);
            auto* choice = new QRadioButton(cell);
            choice->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(names[s])).arg(row));
            auto* value = new QLabel(marked(cells[1 + s], cells[2 - s]), cell);
            value->setObjectName(QStringLiteral("%1Value_%2").arg(QLatin1String(names[s])).arg(row));
            value->setBuddy(choice);
            cellLayout->addWidget(choice);
            cellLayout->addWidget(value, 1);
            group->addButton(choice, s);
            table->setCellWidget(r, 2 + s, cell);
        }
        connect(group, &QButtonGroup::idClicked, this, &MergeDialog::updateSend);
        choices_.push_back(group);
    }
    title->setVisible(!conflicts_.empty());
    table->setVisible(!conflicts_.empty());
    layout->addWidget(title);
    layout->addWidget(table, 1);

    overwrite_ = new QCheckBox(text(texts::Message::MergeOverwrite), this);
    overwrite_->setObjectName(QStringLiteral("OverwriteController"));
    connect(overwrite_, &QCheckBox::toggled, this, &MergeDialog::updateSend);
    layout->addWidget(overwrite_);
    if (options.offerCheckAfter) {
        checkAfter_ = new QCheckBox(text(texts::Message::CheckAfterSending), this);
        checkAfter_->setObjectName(QStringLiteral("CheckAfterUpload"));
        checkAfter_->setChecked(options.checkAfterTicked);
        layout->addWidget(checkAfter_);
    }

    auto* buttons = new QDialogButtonBox(this);
    send_ = buttons->addButton(text(texts::Message::ButtonSend), QDialogButtonBox::AcceptRole);
    send_->setObjectName(QStringLiteral("AcceptButton"));
    send_->setAutoDefault(false);
    QPushButton* cancel = buttons->addButton(text(texts::Message::ButtonCancel), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("RejectButton"));
    cancel->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    cancel->setFocus();
    resize(900, 560);
    updateSend();
}

std::vector<MergeChoice> MergeDialog::choices() const {
    std::vector<MergeChoice> out(itemCount_, MergeChoice::Undecided);
    for (std::size_t row = 0; row < conflicts_.size(); ++row) {
        const int id = choices_[row]->checkedId();
        if (id >= 0) out[conflicts_[row]] = id == 0 ? MergeChoice::File : MergeChoice::Controller;
    }
    return out;
}

void MergeDialog::updateSend() {
    bool decided = true;
    for (const QButtonGroup* g : choices_) decided = decided && g->checkedId() >= 0;
    send_->setEnabled(decided || overwrite_->isChecked());
    // What would be sent now: the list follows the choices.
    tree_->clear();
    const std::vector<texts::ChangeGroup> groups = describe_(choices(), overwrite_->isChecked());
    fillChangeTree(tree_, groups);
    tree_->setVisible(!groups.empty());
}

MergeAnswer MergeDialog::answer(int result) const {
    MergeAnswer a;
    a.send = result == QDialog::Accepted && send_->isEnabled();
    a.overwrite = overwrite_->isChecked();
    a.checkAfter = checkAfter_ && checkAfter_->isChecked();
    a.choices = choices();
    return a;
}

}  // namespace kelvane::shell
