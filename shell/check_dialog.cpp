#include "shell/check_dialog.h"

#include "texts/configuration_warnings.h"
#include "texts/language_table.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kelvane::shell {

namespace {
QString text(texts::CheckText entry, int language) { return QString::fromUtf8(texts::checkText(entry, language)); }
}  // namespace

CheckDialog::CheckDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CheckDialog"));
    resize(820, 380);
    auto* layout = new QVBoxLayout(this);
    list_ = new QTableWidget(0, 3, this);
    list_->setObjectName(QStringLiteral("CheckList"));
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setWordWrap(true);
    list_->setAlternatingRowColors(true);
    list_->verticalHeader()->hide();
    list_->horizontalHeader()->setStretchLastSection(true);
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
    connect(list_, &QTableWidget::itemActivated, this, [this](QTableWidgetItem* item) {
        const int index = item->row();
        if (index >= 0 && index < static_cast<int>(warnings_.size())) emit goTo(index);
    });
    // Long texts wrap: rows follow the text column's width.
    connect(list_->horizontalHeader(), &QHeaderView::sectionResized, list_, [this] { list_->resizeRowsToContents(); });
}

void CheckDialog::setWarnings(std::vector<Warning> warnings, int language) {
    warnings_ = std::move(warnings);
    setLanguage(language);
}

void CheckDialog::setLanguage(int language) {
    list_->setHorizontalHeaderLabels({text(texts::CheckText::ColumnSeverity, language),
                                      text(texts::CheckText::ColumnPlace, language),
                                      text(texts::CheckText::ColumnText, language)});
    close_->setText(text(texts::CheckText::Close, language));
    empty_->setText(text(texts::CheckText::NoWarnings, language));
    empty_->setVisible(warnings_.empty());
    list_->setRowCount(static_cast<int>(warnings_.size()));
    for (int row = 0; row < list_->rowCount(); ++row) {
        const Warning& w = warnings_[static_cast<std::size_t>(row)];
        const Severity severity = severityOf(w.kind);
        auto* kind =
            new QTableWidgetItem(style()->standardIcon(severity == Severity::Info ? QStyle::SP_MessageBoxInformation
                                                                                  : QStyle::SP_MessageBoxWarning),
                                 QString::fromUtf8(texts::severityText(severity, language)));
        list_->setItem(row, 0, kind);
        list_->setItem(row, 1, new QTableWidgetItem(QString::fromStdString(texts::warningPlaceText(w, language))));
        list_->setItem(row, 2, new QTableWidgetItem(QString::fromStdString(texts::warningText(w, language))));
    }
    list_->resizeRowsToContents();
    if (list_->rowCount()) list_->selectRow(0);
}

}  // namespace kelvane::shell
