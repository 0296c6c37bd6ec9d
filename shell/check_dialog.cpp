#include "shell/check_dialog.h"

#include "shell/configuration_warnings.h"
#include "shell/language_table.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kelvane::shell {

namespace {
QString text(lang::CheckText entry, int language) { return QString::fromUtf8(lang::checkText(entry, language)); }
}  // namespace

CheckDialog::CheckDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CheckDialog"));
    resize(760, 360);
    auto* layout = new QVBoxLayout(this);
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("CheckList"));
    list_->setColumnCount(3);
    list_->setRootIsDecorated(false);
    list_->setWordWrap(true);
    list_->setUniformRowHeights(false);
    list_->setAlternatingRowColors(true);
    list_->header()->setStretchLastSection(true);
    list_->setColumnWidth(0, 120);
    list_->setColumnWidth(1, 170);
    layout->addWidget(list_);
    empty_ = new QLabel(this);
    empty_->setObjectName(QStringLiteral("CheckEmpty"));
    layout->addWidget(empty_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    close_ = new QPushButton(this);
    close_->setObjectName(QStringLiteral("CheckClose"));
    buttons->addWidget(close_);
    layout->addLayout(buttons);
    connect(close_, &QPushButton::clicked, this, &QDialog::close);
    connect(list_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        const int index = list_->indexOfTopLevelItem(item);
        if (index >= 0 && index < static_cast<int>(warnings_.size())) emit goTo(index);
    });
}

void CheckDialog::setWarnings(std::vector<Warning> warnings, int language) {
    warnings_ = std::move(warnings);
    setLanguage(language);
}

void CheckDialog::setLanguage(int language) {
    list_->setHeaderLabels({text(lang::CheckText::ColumnSeverity, language), text(lang::CheckText::ColumnPlace, language),
                            text(lang::CheckText::ColumnText, language)});
    close_->setText(text(lang::CheckText::Close, language));
    empty_->setText(text(lang::CheckText::NoWarnings, language));
    empty_->setVisible(warnings_.empty());
    list_->clear();
    for (const Warning& w : warnings_) {
        const Severity severity = SeverityOf(w.kind);
        auto* item = new QTreeWidgetItem(list_);
        item->setIcon(0, style()->standardIcon(severity == Severity::Info ? QStyle::SP_MessageBoxInformation
                                                                           : QStyle::SP_MessageBoxWarning));
        item->setText(0, QString::fromUtf8(lang::SeverityText(severity, language)));
        item->setText(1, QString::fromStdString(lang::WarningPlaceText(w, language)));
        item->setText(2, QString::fromStdString(lang::WarningText(w, language)));
        item->setToolTip(2, item->text(2));
    }
    if (list_->topLevelItemCount()) list_->setCurrentItem(list_->topLevelItem(0));
}

}  // namespace kelvane::shell
