#include "shell/register_dialog.h"

#include "shell/shown_time.h"
#include "texts/language_table.h"
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

RegisterDialog::RegisterDialog(QWidget* parent, registry::Register& reg, const RegisterDialogTexts& texts)
    : QDialog(parent), reg_(reg), texts_(texts) {
    setObjectName(QStringLiteral("RegisterDialog"));
    setWindowTitle(texts.title);
    resize(900, 520);
    askSavePath = [this] {
        return QFileDialog::getSaveFileName(this, texts_.saveAs, QString(), QStringLiteral("*.kvd"));
    };
    report = [this](const QString& text) { QMessageBox::warning(this, texts_.title, text); };

    auto* layout = new QVBoxLayout(this);
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("RegisterSearch"));
    search_->setPlaceholderText(texts.search);
    search_->setClearButtonEnabled(true);
    layout->addWidget(search_);
    noResults_ = new QLabel(this);
    noResults_->setObjectName(QStringLiteral("RegisterNoResults"));
    noResults_->hide();
    layout->addWidget(noResults_);

    auto* split = split_ = new QSplitter(this);
    buildings_ = makeList(split, "RegisterBuildings",
                          {texts.building, texts.address, texts.identity, texts.visits, texts.lastSeen});
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
    details->addRow(texts.name, name_);
    details->addRow(texts.address, address_);
    details->addRow(texts.notes, notes_);
    rightLayout->addLayout(details);
    auto* saveDetailsButton = new QPushButton(texts.saveDetails, right);
    saveDetailsButton->setObjectName(QStringLiteral("RegisterSaveDetails"));
    saveDetailsButton->setAutoDefault(false);
    auto* detailsRow = new QHBoxLayout;
    detailsRow->addStretch();
    detailsRow->addWidget(saveDetailsButton);
    rightLayout->addLayout(detailsRow);
    visits_ = makeList(right, "RegisterVisits", {texts.when, texts.kind, texts.technician, texts.outcome, texts.changes});
    visits_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    rightLayout->addWidget(visits_, 1);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    layout->addWidget(split, 1);

    auto* bottom = new QHBoxLayout;
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("RegisterStatus"));
    bottom->addWidget(status_, 1);
    auto* buttons = new QDialogButtonBox(this);
    compare_ = buttons->addButton(texts.compare, QDialogButtonBox::ActionRole);
    compare_->setObjectName(QStringLiteral("RegisterCompare"));
    open_ = buttons->addButton(texts.open, QDialogButtonBox::ActionRole);
    open_->setObjectName(QStringLiteral("RegisterOpen"));
    saveAs_ = buttons->addButton(texts.saveAs, QDialogButtonBox::ActionRole);
    saveAs_->setObjectName(QStringLiteral("RegisterSaveAs"));
    QPushButton* close = buttons->addButton(texts.close, QDialogButtonBox::RejectRole);
    for (QPushButton* b : {compare_, open_, saveAs_, close}) b->setAutoDefault(false);
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
    connect(saveDetailsButton, &QPushButton::clicked, this, [this] { saveDetails(); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    fillBuildings();
}

QString RegisterDialog::noResultsText() const { return noResults_->isHidden() ? QString() : noResults_->text(); }
QString RegisterDialog::statusText() const { return status_->text(); }

void RegisterDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
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
        const QString name = c.key.known() ? QString::fromStdString(c.name) : texts_.unknownBuilding;
        auto* item = new QTreeWidgetItem(
            QStringList{name, QString::fromStdString(c.address), QString::fromStdString(registry::keyText(c.key)),
                        QString::number(c.visits), shownDateTime(c.lastSeen, texts_.language)});
        item->setData(0, kKeyRole, c.key.deviceId);
        item->setData(0, kSerialRole, c.key.serialNumber);
        item->setToolTip(0, QString::fromStdString(c.notes));
        item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
        if (before && *before == c.key) current = item;
        items.append(item);
    }
    buildings_->addTopLevelItems(items);
    noResults_->setText(texts_.noResults);
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
        const int i = static_cast<int>(kind);
        return i < texts_.kinds.size() ? texts_.kinds[i] : QString::fromLatin1(registry::kindName(kind));
    };
    if (key) {
        for (const registry::Visit& v : reg_.visits(*key)) {
            auto* item = new QTreeWidgetItem(
                visits_, {shownDateTime(v.time, texts_.language), kindText(v.kind), QString::fromStdString(v.technician),
                          QString::fromStdString(texts::outcomeText(v.outcome, texts_.language)),
                          v.hasImage && v.changes ? QString::number(*v.changes) : QString()});
            item->setData(0, kKeyRole, static_cast<qlonglong>(v.id));
            item->setData(0, kImageRole, v.hasImage);
            item->setToolTip(0, QString::fromStdString(v.port));
            item->setTextAlignment(4, Qt::AlignRight | Qt::AlignVCenter);
        }
    }
    visits_->header()->resizeSections(QHeaderView::ResizeToContents);
    updateButtons();
    fitColumns();
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
    QString title = texts_.compareTitle.isEmpty() ? texts_.compare : texts_.compareTitle;
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
    reg_.recordSavedFile(path.toStdString(), *image, *key, *image);
}

void RegisterDialog::saveDetails() {
    const auto key = currentKey();
    if (!key || !key->known()) return;
    if (!reg_.describe(*key, name_->text().trimmed().toStdString(), address_->text().trimmed().toStdString(),
                       notes_->toPlainText().toStdString()))
        return report(QString::fromStdString(reg_.error()));
    fillBuildings();
    status_->setText(texts_.detailsSaved);
}

RegisterDialogTexts registerTexts(int language) {
    using texts::Message;
    const auto text = [language](Message m) { return QString::fromUtf8(texts::messageText(m, language)); };
    RegisterDialogTexts t;
    t.title = text(Message::RegisterTitle);
    t.search = text(Message::RegisterSearch);
    t.building = text(Message::RegisterBuilding);
    t.address = text(Message::RegisterAddress);
    t.identity = text(Message::RegisterIdentity);
    t.visits = text(Message::RegisterVisits);
    t.lastSeen = text(Message::RegisterLastSeen);
    t.when = text(Message::RegisterWhen);
    t.kind = text(Message::RegisterKind);
    t.technician = text(Message::RegisterTechnician);
    t.outcome = text(Message::RegisterOutcome);
    t.changes = text(Message::RegisterChanges);
    t.name = text(Message::RegisterName);
    t.notes = text(Message::RegisterNotes);
    t.saveDetails = text(Message::RegisterSaveDetails);
    t.compare = text(Message::RegisterCompare);
    t.open = text(Message::BackupsOpen);
    t.saveAs = text(Message::RegisterSaveAs);
    t.close = text(Message::ButtonClose);
    t.unknownBuilding = text(Message::RegisterUnknownBuilding);
    t.detailsSaved = text(Message::RegisterDetailsSaved);
    t.noResults = text(Message::RegisterNoResults);
    t.compareTitle = text(Message::RegisterCompareTitle);
    t.language = language;
    for (Message m :
         {Message::VisitDownload, Message::VisitUpload, Message::VisitCheck, Message::VisitFlash, Message::VisitBackup})
        t.kinds << text(m);
    return t;
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
