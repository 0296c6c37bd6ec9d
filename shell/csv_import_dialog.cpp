#include "shell/csv_import_dialog.h"

#include "texts/grid_csv_texts.h"
#include "texts/language_table.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QVBoxLayout>

#include <cstdio>

namespace kelvane::shell {

namespace {
QString text(texts::Message m, int language) { return QString::fromUtf8(texts::messageText(m, language)); }
}  // namespace

CsvImportDialog::CsvImportDialog(GridId id, std::string bytes, Grid current, int language, QWidget* parent)
    : QDialog(parent),
      id_(id),
      bytes_(std::move(bytes)),
      current_(std::move(current)),
      language_(language),
      headers_(texts::csvHeaders()) {
    setObjectName(QStringLiteral("CsvImportDialog"));
    setWindowTitle(text(texts::Message::CsvPreviewTitle, language)
                       .replace(QStringLiteral("%s"), QString::fromStdString(texts::gridCaption(id, language))));
    auto* layout = new QVBoxLayout(this);
    append_ = new QRadioButton(text(texts::Message::CsvModeAppend, language), this);
    append_->setObjectName(QStringLiteral("CsvAppend"));
    replace_ = new QRadioButton(text(texts::Message::CsvModeReplace, language), this);
    replace_->setObjectName(QStringLiteral("CsvReplace"));
    append_->setChecked(true);
    counts_ = new QLabel(this);
    counts_->setObjectName(QStringLiteral("CsvCounts"));
    changed_ = new QListWidget(this);
    changed_->setObjectName(QStringLiteral("CsvChanged"));
    refusedTitle_ = new QLabel(this);
    refused_ = new QListWidget(this);
    refused_->setObjectName(QStringLiteral("CsvRefused"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(text(texts::Message::CsvCancelButton, language));
    import_ = buttons->addButton(text(texts::Message::CsvImportButton, language), QDialogButtonBox::AcceptRole);
    import_->setObjectName(QStringLiteral("CsvImportButton"));
    import_->setDefault(true);
    layout->addWidget(append_);
    layout->addWidget(replace_);
    layout->addWidget(counts_);
    layout->addWidget(changed_, 1);
    layout->addWidget(refusedTitle_);
    layout->addWidget(refused_, 1);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(append_, &QRadioButton::toggled, this, &CsvImportDialog::refresh);
    resize(460, 360);
    refresh();
}

CsvImportMode CsvImportDialog::mode() const {
    return replace_->isChecked() ? CsvImportMode::Replace : CsvImportMode::Append;
}

void CsvImportDialog::setMode(CsvImportMode mode) {
    (mode == CsvImportMode::Replace ? replace_ : append_)->setChecked(true);
}

void CsvImportDialog::refresh() {
    result_ = importGridCsv(id_, bytes_, current_, mode(), headers_);
    char buf[256];
    std::snprintf(buf, sizeof buf, texts::messageText(texts::Message::CsvPreviewCounts, language_), result_.added,
                  result_.replaced, result_.removed);
    counts_->setText(QString::fromUtf8(buf));
    std::snprintf(buf, sizeof buf, texts::messageText(texts::Message::CsvPreviewRefused, language_),
                  static_cast<int>(result_.refused.size()));
    refusedTitle_->setText(QString::fromUtf8(buf));
    changed_->clear();
    const auto cells = [](const Grid::Row& row) {
        QStringList texts;
        for (const std::string& c : row) texts << QString::fromStdString(c);
        return texts.join(QStringLiteral("; "));
    };
    for (const auto& [before, after] : result_.changed)
        changed_->addItem(cells(before) + QStringLiteral(" → ") + cells(after));
    changed_->setVisible(!result_.changed.empty());
    refused_->clear();
    for (const CsvRefusal& r : result_.refused)
        refused_->addItem(QString::fromStdString(texts::csvRefusalText(r, id_, language_)));
    // Nothing to change: nothing to confirm.
    import_->setEnabled(result_.fault == CsvFileFault::None && result_.added + result_.replaced + result_.removed > 0);
}

}  // namespace kelvane::shell
