#include "shell/register_dialog.h"

#include "jobs/work_origin.h"
#include "shell/company_sync_runner.h"
#include "shell/shown_time.h"
#include "texts/language_table.h"
#include "texts/report_text.h"
#include "texts/visit_texts.h"

#include "files/data_file.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace kelvane::shell {

namespace {

constexpr int kKeyRole = Qt::UserRole;  // buildings: device ID; visits: visit id
constexpr int kSerialRole = Qt::UserRole + 1;
constexpr int kImageRole = Qt::UserRole + 2;  // visits: whether it has an image

QTreeWidget* makeList(QWidget* parent, const char* name, const QStringList& headers) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setHeaderLabels(headers);
    return list;
}

}  // namespace

using texts::Message;

RegisterDialog::RegisterDialog(QWidget* parent, registry::Register& reg, int language)
    : QDialog(parent), reg_(reg), language_(language) {
    setObjectName(QStringLiteral("RegisterDialog"));
    setWindowTitle(text(Message::RegisterTitle));
    resize(900, 520);
    askSavePath = [this] {
        return QFileDialog::getSaveFileName(this, text(Message::RegisterSaveAs), QString(), QStringLiteral("*.kvd"));
    };
    report = [this](const QString& what) { QMessageBox::warning(this, text(Message::RegisterTitle), what); };

    auto* layout = new QVBoxLayout(this);
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("RegisterSearch"));
    search_->setPlaceholderText(text(Message::RegisterSearch));
    search_->setClearButtonEnabled(true);
    layout->addWidget(search_);
    noResults_ = new QLabel(this);
    noResults_->setObjectName(QStringLiteral("RegisterNoResults"));
    noResults_->hide();
    layout->addWidget(noResults_);

    auto* split = split_ = new QSplitter(this);
    buildings_ =
        makeList(split, "RegisterBuildings",
                 {text(Message::RegisterBuilding), text(Message::RegisterAddress), text(Message::RegisterIdentity),
                  text(Message::RegisterVisits), text(Message::RegisterLastSeen)});
    auto* right = new QWidget(split);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    auto* details = new QFormLayout;
    name_ = new QLineEdit(right);
    name_->setObjectName(QStringLiteral("RegisterName"));
    address_ = new QLineEdit(right);
    address_->setObjectName(QStringLiteral("RegisterAddress"));
    notes_ = new QPlainTextEdit(right);
    notes_->setObjectName(QStringLiteral("RegisterNotes"));
    notes_->setMaximumHeight(70);
    details->addRow(text(Message::RegisterName), name_);
    details->addRow(text(Message::RegisterAddress), address_);
    details->addRow(text(Message::RegisterNotes), notes_);
    rightLayout->addLayout(details);
    auto* saveDetailsButton = new QPushButton(text(Message::RegisterSaveDetails), right);
    saveDetailsButton->setObjectName(QStringLiteral("RegisterSaveDetails"));
    saveDetailsButton->setAutoDefault(false);
    auto* detailsRow = new QHBoxLayout;
    detailsRow->addStretch();
    detailsRow->addWidget(saveDetailsButton);
    rightLayout->addLayout(detailsRow);
    visits_ = makeList(right, "RegisterVisits",
                       {text(Message::RegisterWhen), text(Message::RegisterKind), text(Message::RegisterTechnician),
                        text(Message::RegisterOutcome), text(Message::RegisterChanges)});
    visits_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    rightLayout->addWidget(visits_, 1);
    historyBox_ = new QWidget(right);
    auto* historyLayout = new QVBoxLayout(historyBox_);
    historyLayout->setContentsMargins(0, 0, 0, 0);
    historyLayout->addWidget(new QLabel(text(Message::FieldHistory), historyBox_));
    history_ = makeList(historyBox_, "RegisterFieldHistory",
                        {text(Message::FieldHistoryField), text(Message::FieldHistoryWhen),
                         text(Message::FieldHistoryWho), text(Message::FieldHistoryOld), text(Message::FieldHistoryNew)});
    history_->setMaximumHeight(110);
    historyLayout->addWidget(history_);
    historyBox_->hide();
    rightLayout->addWidget(historyBox_);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    layout->addWidget(split, 1);

    company_ = new QWidget(this);
    auto* companyRow = new QHBoxLayout(company_);
    companyRow->setContentsMargins(0, 0, 0, 0);
    companyState_ = new QLabel(company_);
    companyState_->setObjectName(QStringLiteral("RegisterCompanyState"));
    companyRow->addWidget(companyState_, 1);
    auto* syncNow = new QPushButton(text(Message::CompanySyncNow), company_);
    syncNow->setObjectName(QStringLiteral("RegisterSyncNow"));
    syncNow->setAutoDefault(false);
    companyRow->addWidget(syncNow);
    company_->hide();
    layout->addWidget(company_);
    connect(syncNow, &QPushButton::clicked, this, [this] {
        if (sync_) sync_->request();
    });

    auto* bottom = new QHBoxLayout;
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("RegisterStatus"));
    bottom->addWidget(status_, 1);
    auto* buttons = new QDialogButtonBox(this);
    compare_ = buttons->addButton(text(Message::RegisterCompare), QDialogButtonBox::ActionRole);
    compare_->setObjectName(QStringLiteral("RegisterCompare"));
    open_ = buttons->addButton(text(Message::BackupsOpen), QDialogButtonBox::ActionRole);
    open_->setObjectName(QStringLiteral("RegisterOpen"));
    saveAs_ = buttons->addButton(text(Message::RegisterSaveAs), QDialogButtonBox::ActionRole);
    saveAs_->setObjectName(QStringLiteral("RegisterSaveAs"));
    report_ = buttons->addButton(QString::fromUtf8(texts::reportText(texts::ReportText::Command, language_)),
                                 QDialogButtonBox::ActionRole);
    report_->setObjectName(QStringLiteral("RegisterReport"));
    QPushButton* close = buttons->addButton(text(Message::ButtonClose), QDialogButtonBox::RejectRole);
    for (QPushButton* b : {compare_, open_, saveAs_, report_, close}) b->setAutoDefault(false);
    bottom->addWidget(buttons);
    layout->addLayout(bottom);

    connect(search_, &QLineEdit::textChanged, this, [this] { fillBuildings(); });
    connect(buildings_, &QTreeWidget::currentItemChanged, this, [this] {
        status_->clear();  // what was saved belongs to the building left
        fillVisits();
    });
    connect(visits_, &QTreeWidget::itemSelectionChanged, this, [this] { updateButtons(); });
    connect(visits_, &QTreeWidget::itemDoubleClicked, this, [this] { openSelected(); });
    connect(compare_, &QPushButton::clicked, this, [this] { compareSelected(); });
    connect(open_, &QPushButton::clicked, this, [this] { openSelected(); });
    connect(saveAs_, &QPushButton::clicked, this, [this] { saveSelected(); });
    connect(report_, &QPushButton::clicked, this, [this] { reportSelected(); });
    connect(saveDetailsButton, &QPushButton::clicked, this, [this] { saveDetails(); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    fillBuildings();
}

void RegisterDialog::setFieldHistory(std::function<std::vector<ReplacedEdit>(const registry::ControllerKey&)> history) {
    fieldHistory_ = std::move(history);
    fillHistory();
}

void RegisterDialog::setCompanySync(CompanySyncRunner* runner) {
    sync_ = runner;
    if (!runner) return showCompanyState();
    connect(runner, &CompanySyncRunner::changed, this, [this] {
        const bool ended = !sync_->running();
        showCompanyState();
        if (ended) fillBuildings();  // what the sync brought
    });
    showCompanyState();
}

void RegisterDialog::showCompanyState() {
    const QString text = sync_ ? sync_->text(language_) : QString();
    companyState_->setText(text);
    company_->setVisible(!text.isEmpty());
}

QString RegisterDialog::companyText() const { return company_->isHidden() ? QString() : companyState_->text(); }

QString RegisterDialog::noResultsText() const { return noResults_->isHidden() ? QString() : noResults_->text(); }
QString RegisterDialog::statusText() const { return status_->text(); }

void RegisterDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    updateButtons();  // the report's button once its action is set
    // Sized again with the fonts and style the shown window has.
    for (QTreeWidget* list : {buildings_, visits_}) list->header()->resizeSections(QHeaderView::ResizeToContents);
    fitColumns();
}

void RegisterDialog::fitColumns() {
    // Sections sized to their contents and headers, the last one (which the
    // list stretches, never below the default section size) at its own need,
    // the frame and a scroll bar.
    const auto wanted = [](QTreeWidget* list) {
        const int last = list->columnCount() - 1;
        QHeaderView* header = list->header();
        int width = 2 * list->frameWidth() + list->verticalScrollBar()->sizeHint().width();
        for (int c = 0; c < last; ++c) width += header->sectionSize(c);
        return width + std::max({static_cast<QAbstractItemView*>(list)->sizeHintForColumn(last),
                                 header->sectionSizeHint(last), header->defaultSectionSize()});
    };
    const int left = wanted(buildings_);
    const int right = std::max(wanted(visits_), name_->minimumSizeHint().width() + 120);
    const QMargins m = layout()->contentsMargins();
    int needed = left + right + split_->handleWidth() + m.left() + m.right();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        needed = std::min(needed, screen->availableGeometry().width() - 16);
    const QList<int> sizes = split_->sizes();
    if (needed <= width() && sizes.value(0) >= left && sizes.value(1) >= right) return;
    resize(std::max(needed, width()), height());
    // On a screen too small for both, the visits keep their width: the
    // buildings list scrolls sideways first.
    constexpr int kLeastBuildingsWidth = 200;
    // From the window's width: a window not yet shown has not laid out its splitter.
    const int total = width() - m.left() - m.right() - split_->handleWidth();
    const int visits = std::max(0, std::min(right, total - kLeastBuildingsWidth));
    split_->setSizes({total - visits, visits});
}

void RegisterDialog::fillBuildings() {
    const auto before = currentKey();
    buildings_->clear();
    QTreeWidgetItem* current = nullptr;
    QList<QTreeWidgetItem*> items;  // added at once: one layout, not one per row
    for (const registry::Controller& c : reg_.controllers(search_->text().trimmed().toStdString())) {
        const QString name = c.key.known() ? QString::fromStdString(c.name) : text(Message::RegisterUnknownBuilding);
        auto* item = new QTreeWidgetItem(QStringList{name, QString::fromStdString(c.address),
                                                     QString::fromStdString(registry::keyText(c.key)),
                                                     QString::number(c.visits), shownDateTime(c.lastSeen, language_)});
        item->setData(0, kKeyRole, c.key.deviceId);
        item->setData(0, kSerialRole, c.key.serialNumber);
        item->setToolTip(0, QString::fromStdString(c.notes));
        item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
        if (before && *before == c.key) current = item;
        items.append(item);
    }
    buildings_->addTopLevelItems(items);
    noResults_->setText(text(Message::RegisterNoResults));
    noResults_->setVisible(items.isEmpty() && !search_->text().trimmed().isEmpty());
    buildings_->header()->resizeSections(QHeaderView::ResizeToContents);
    if (!current) current = buildings_->topLevelItem(0);
    buildings_->setCurrentItem(current);
    if (!current) fillVisits();
}

std::optional<registry::ControllerKey> RegisterDialog::currentKey() const {
    const QTreeWidgetItem* item = buildings_->currentItem();
    if (!item) return std::nullopt;
    return registry::ControllerKey{item->data(0, kKeyRole).toInt(), item->data(0, kSerialRole).toInt()};
}

void RegisterDialog::fillVisits() {
    visits_->clear();
    const auto key = currentKey();
    std::optional<registry::Controller> c;
    if (key) c = reg_.controller(*key);
    name_->setText(c ? QString::fromStdString(c->name) : QString());
    address_->setText(c ? QString::fromStdString(c->address) : QString());
    notes_->setPlainText(c ? QString::fromStdString(c->notes) : QString());
    for (QWidget* w : std::initializer_list<QWidget*>{name_, address_, notes_}) w->setEnabled(c && c->key.known());
    const auto kindText = [this](registry::VisitKind kind) {
        switch (kind) {
        case registry::VisitKind::Download: return text(Message::VisitDownload);
        case registry::VisitKind::Upload: return text(Message::VisitUpload);
        case registry::VisitKind::Check: return text(Message::VisitCheck);
        case registry::VisitKind::Flash: return text(Message::VisitFlash);
        case registry::VisitKind::Backup: return text(Message::VisitBackup);
        case registry::VisitKind::Report:
            return QString::fromUtf8(texts::reportText(texts::ReportText::KindName, language_));
        }
        return QString::fromLatin1(registry::kindName(kind));
    };
    if (key) {
        for (const registry::Visit& v : reg_.visits(*key)) {
            auto* item = new QTreeWidgetItem(
                visits_, {shownDateTime(v.time, language_), kindText(v.kind), QString::fromStdString(v.technician),
                          QString::fromStdString(texts::outcomeText(v.outcome, language_)),
                          v.hasImage && v.changes ? QString::number(*v.changes) : QString()});
            item->setData(0, kKeyRole, static_cast<qlonglong>(v.id));
            item->setData(0, kImageRole, v.hasImage);
            item->setToolTip(0, QString::fromStdString(v.port));
            item->setTextAlignment(4, Qt::AlignRight | Qt::AlignVCenter);
        }
    }
    visits_->header()->resizeSections(QHeaderView::ResizeToContents);
    fillHistory();
    updateButtons();
    fitColumns();
}

void RegisterDialog::fillHistory() {
    history_->clear();
    const auto key = currentKey();
    const std::vector<ReplacedEdit> edits =
        key && key->known() && fieldHistory_ ? fieldHistory_(*key) : std::vector<ReplacedEdit>{};
    static const char* const kFields[] = {"name", "address", "notes"};
    const Message fieldTexts[] = {Message::RegisterName, Message::RegisterAddress, Message::RegisterNotes};
    for (const ReplacedEdit& e : edits) {
        QString field = QString::fromStdString(e.field);
        for (int i = 0; i < 3; ++i)
            if (e.field == kFields[i]) field = text(fieldTexts[i]);
        // One line each: a note's line breaks would hide the rows below.
        const auto line = [](const std::string& text) { return QString::fromStdString(text).simplified(); };
        auto* item = new QTreeWidgetItem(history_, {field, shownDateTime(e.time, language_),
                                                    QString::fromStdString(e.technician), line(e.before), line(e.after)});
        item->setToolTip(3, QString::fromStdString(e.before));
        item->setToolTip(4, QString::fromStdString(e.after));
    }
    history_->header()->resizeSections(QHeaderView::ResizeToContents);
    historyBox_->setVisible(!edits.empty());
}

std::vector<std::int64_t> RegisterDialog::selectedVisits() const {
    std::vector<std::int64_t> out;
    for (int i = 0; i < visits_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = visits_->topLevelItem(i);
        if (item->isSelected() && item->data(0, kImageRole).toBool())
            out.push_back(item->data(0, kKeyRole).toLongLong());
    }
    return out;
}

void RegisterDialog::updateButtons() {
    const std::size_t n = selectedVisits().size();
    compare_->setEnabled(n == 2);
    open_->setEnabled(n == 1);
    saveAs_->setEnabled(n == 1);
    report_->setVisible(bool(makeReport));
    report_->setEnabled(n == 1);
}

void RegisterDialog::compareSelected() {
    const auto key = currentKey();
    const auto chosen = selectedVisits();
    if (!key || chosen.size() != 2) return;
    const auto newer = reg_.visitImage(*key, chosen[0]);
    const auto older = reg_.visitImage(*key, chosen[1]);
    if (!newer || !older) return report(QString::fromStdString(reg_.error()));
    QStringList times;  // the list runs newest first
    for (int i = visits_->topLevelItemCount() - 1; i >= 0; --i)
        if (const QTreeWidgetItem* item = visits_->topLevelItem(i);
            item->isSelected() && item->data(0, kImageRole).toBool())
            times << item->text(0);
    QString title = text(Message::RegisterCompareTitle);
    int at = 0;
    for (const QString& time : times) {
        if ((at = title.indexOf(QLatin1String("%s"), at)) < 0) break;
        title.replace(at, 2, time);
        at += time.size();
    }
    if (showChanges) showChanges(*older, *newer, title);
}

void RegisterDialog::openSelected() {
    const auto key = currentKey();
    const auto chosen = selectedVisits();
    if (!key || chosen.size() != 1) return;
    const auto image = reg_.visitImage(*key, chosen[0]);
    if (!image) return report(QString::fromStdString(reg_.error()));
    chosen_ = image;
    chosenKey_ = key;
    chosenVisit_ = chosen[0];
    accept();
}

void RegisterDialog::saveSelected() {
    const auto key = currentKey();
    const auto chosen = selectedVisits();
    if (!key || chosen.size() != 1) return;
    const auto image = reg_.visitImage(*key, chosen[0]);
    if (!image) return report(QString::fromStdString(reg_.error()));
    const QString path = askSavePath ? askSavePath() : QString();
    if (path.isEmpty()) return;
    const QTreeWidgetItem* building = buildings_->currentItem();
    const QString description = building->text(0) + QStringLiteral(" (") + building->text(2) + QStringLiteral("), ") +
                                visits_->selectedItems().value(0)->text(0);
    if (!saveDataFileTo(path.toStdString(), *image, description.toStdString())) return report(path);
    // The file remembers its building, so the guard knows it when it is loaded.
    jobs::recordSavedFile(reg_, path.toStdString(), *image, {*key, {}, *image});
}

void RegisterDialog::reportSelected() {
    const auto key = currentKey();
    const auto chosen = selectedVisits();
    if (!key || chosen.size() != 1 || !makeReport) return;
    makeReport(*key, chosen[0]);
    fillVisits();  // the report is a visit of its own now
}

void RegisterDialog::saveDetails() {
    const auto key = currentKey();
    if (!key || !key->known()) return;
    if (!reg_.describe(*key, name_->text().trimmed().toStdString(), address_->text().trimmed().toStdString(),
                       notes_->toPlainText().toStdString()))
        return report(QString::fromStdString(reg_.error()));
    fillBuildings();
    status_->setText(text(Message::RegisterDetailsSaved));
}

QString RegisterDialog::text(Message message) const {
    return QString::fromUtf8(texts::messageText(message, language_));
}

QString wrongBuildingWarning(int language, const QString& fileBuilding, const QString& connectedBuilding) {
    // Names are the technician's text, never markup.
    QString message = QString::fromUtf8(texts::messageText(texts::Message::WrongBuilding, language)).toHtmlEscaped();
    int at = 0;
    for (const QString& building : {fileBuilding, connectedBuilding}) {
        at = message.indexOf(QLatin1String("%s"), at);
        if (at < 0) break;
        const QString name = QStringLiteral("<b>") + building.toHtmlEscaped() + QStringLiteral("</b>");
        message.replace(at, 2, name);
        at += name.size();
    }
    return QStringLiteral("<p style=\"color:#c00000\">") + message + QStringLiteral("</p>");
}

}  // namespace kelvane::shell
