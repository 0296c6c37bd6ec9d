// Moving the configuration between the working image and the window, the
// row reports, the language of the window's texts and the grid buttons.
#include "shell/check_dialog.h"
#include "shell/code_grid.h"
#include "shell/main_window.h"
#include "shell/settings_groups.h"
#include "shell/settings_controls.h"
#include "image/window_data.h"
#include "texts/language_table.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QFileDialog>
#include <QLabel>
#include <QTabWidget>

namespace kelvane::shell {

namespace {

// Hands the rows that break a rule to the window's reports.
class WindowReporter : public RowReporter {
public:
    explicit WindowReporter(MainWindow& window) : window_(window) {}
    bool invalidEntry(GridId grid, int row, const Grid&) override { return window_.ReportInvalidEntry(grid, row); }
    void repeatedEntry(GridId grid, int row, const Grid&) override { window_.ReportRepeatedEntry(grid, row); }
    void tableFull(GridId grid, int row, const Grid&) override { window_.ReportTableFull(grid, row); }

private:
    MainWindow& window_;
};

const int kColumnWidths[kGridCount][4] = {{116, 231}, {86, 86, 86, 86}, {}, {115, 115, 116}};

}  // namespace

void MainWindow::DisplayData() {
    if (!keepSource_) document_.source = document_.working;
    const WindowData data = showImage(document_.working);
    // Keys, general codes, residents, digitizers; the general codes keep their widths.
    for (GridId id : {GridId::Keys, GridId::GeneralCodes, GridId::Residents, GridId::Digitizers}) {
        CodeGrid* g = grid(id);
        g->setGrid(data.grid(id));
        if (id != GridId::GeneralCodes)
            for (int c = 0; c < g->columnCount(); ++c) g->setColumnWidth(c, kColumnWidths[static_cast<int>(id)][c]);
    }
    for (const Parameter& p : parameterTable()) {
        const auto it = data.controls.find(p.control);
        if (QWidget* control = qobject_cast<QWidget*>(named_.value(QString::fromLatin1(p.control)));
            control && it != data.controls.end())
            writeSetting(p, control, it->second);
    }
    ApplyLanguage(texts::kPolish);
    document_.edits.windowStored(readWindow());
    updateModified();
}

void MainWindow::updateModified() {
    // What the controls hold, read without closing an editor or taking a
    // half-typed text: the technician may be typing.
    WindowData data;
    for (int i = 0; i < kGridCount; ++i) data.grids[i] = grids_[i]->toGrid();
    for (const Parameter& p : parameterTable())
        if (const QWidget* control = qobject_cast<QWidget*>(named_.value(QString::fromLatin1(p.control))))
            data.controls[p.control] = readSetting(p, control);
    setWindowModified(document_.edits.edited(data, document_.working, description().toStdString()));
}

WindowData MainWindow::readWindow() {
    WindowData data;
    for (int i = 0; i < kGridCount; ++i) {
        grids_[i]->commitEdit();  // what is being typed counts too
        data.grids[i] = grids_[i]->toGrid();
    }
    for (const Parameter& p : parameterTable())
        if (QWidget* control = qobject_cast<QWidget*>(named_.value(QString::fromLatin1(p.control)))) {
            commitTypedText(p, control);  // a field still being typed into counts as it shows
            data.controls[p.control] = readSetting(p, control);
        }
    return data;
}

int MainWindow::GetData() {
    const WindowData data = readWindow();
    WindowReporter reporter(*this);
    const std::optional<Image> built = buildImage(data, document_.working, reporter);
    if (!built) return 0;
    document_.working = *built;
    document_.edits.windowStored(data);
    updateModified();
    return 1;
}

bool MainWindow::storeTypedEdits() { return !document_.edits.windowEdited(readWindow()) || GetData() == 1; }

void MainWindow::imageKept() {
    document_.edits.imageKept(document_.working);
    updateModified();
}

namespace {
// A status text written in one language, in another: each of its parts
// (joined by " — ") that is a message of the table; other parts stay.
QString retranslated(const QString& text, int from, int to) {
    static const QString joint = QStringLiteral(" — ");
    QStringList parts = text.split(joint);
    for (QString& part : parts)
        for (int m = 0; m < texts::kMessageCount; ++m)
            if (part == QString::fromUtf8(texts::messageText(static_cast<texts::Message>(m), from))) {
                part = QString::fromUtf8(texts::messageText(static_cast<texts::Message>(m), to));
                break;
            }
    return parts.join(joint);
}
}  // namespace

bool MainWindow::confirmDiscard(texts::Message question) {
    const bool withDescription = question != texts::Message::UnsavedDownload;
    const WindowData window = readWindow();
    const bool edited = withDescription ? document_.edits.edited(window, document_.working, description().toStdString())
                                        : document_.edits.imageEdited(window, document_.working);
    if (!edited) return true;
    // After a merged upload the window holds what the controller was sent,
    // only no file holds it.
    if (document_.deviceKnown && document_.device == document_.working && !document_.edits.windowEdited(window) &&
        document_.edits.imageEdited(window, document_.working))
        question = question == texts::Message::UnsavedDownload ? texts::Message::SentUnsavedDownload
                   : question == texts::Message::UnsavedLoad   ? texts::Message::SentUnsavedLoad
                                                               : texts::Message::SentUnsavedExit;
    enum { Save, Discard, Cancel };
    const QStringList buttons = {messageText(texts::Message::ButtonSave), messageText(texts::Message::ButtonDiscard),
                                 messageText(texts::Message::ButtonCancel)};
    switch (prompts().choose(this, QString::fromLatin1(kApplicationTitle), messageText(question), buttons, Save, Cancel)) {
    case Save: return GetData() == 1 && saveDataFile();
    case Discard: return true;
    default: return false;
    }
}

void MainWindow::ApplyLanguage(int language) {
    if (language < 0 || language >= texts::kLanguageCount) language = texts::kPolish;
    const int previous = document_.language;
    document_.language = language;
    applyQtTranslation(language);
    // The status bar speaks the window's language too.
    if (statusMaker_)
        statusPanel_->setText(statusMaker_(language));
    else if (previous != language && !statusPanel_->text().isEmpty())
        statusPanel_->setText(retranslated(statusPanel_->text(), previous, language));
    statusPanel_->setToolTip(statusPanel_->text());  // the whole text where the panel cuts it
    if (noticeMaker_) notice_->setText(noticeMaker_(language));
    refreshCompanyStatus();
    if (sourceName_) setShownSource(sourceName_);
    openDialog_->setWindowTitle(messageText(texts::Message::DataFileOpenTitle));
    saveDialog_->setWindowTitle(messageText(texts::Message::DataFileSaveTitle));
    for (QFileDialog* d : {openDialog_, saveDialog_}) d->setNameFilter(messageText(texts::Message::DataFileFilter));
    if (checkDialog_) checkDialog_->setLanguage(language);
    const auto& entries = texts::windowEntries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const texts::WindowEntry& e = entries[i];
        const QString target = QString::fromLatin1(e.target);
        const QString text = QString::fromUtf8(e.text[language]);
        QObject* object = named_.value(target);
        if (!object) continue;
        switch (e.kind) {
        case texts::TargetKind::MenuItem:
            static_cast<QAction*>(object)->setText(text);
            if (checkDialog_ && target == QLatin1String("CHECK")) checkDialog_->setWindowTitle(text);
            break;
        case texts::TargetKind::TabPage:
            pages_->setTabText(pages_->indexOf(static_cast<QWidget*>(object)), text);
            break;
        case texts::TargetKind::RadioGroup: static_cast<QGroupBox*>(object)->setTitle(text); break;
        case texts::TargetKind::Label: static_cast<QLabel*>(object)->setText(text); break;
        case texts::TargetKind::CheckBox: static_cast<QCheckBox*>(object)->setText(text); break;
        case texts::TargetKind::LabeledEdit:
            if (auto* label = qobject_cast<QLabel*>(named_.value(editLabelName(target)))) label->setText(text);
            break;
        case texts::TargetKind::RadioButton:
            if (QAbstractButton* b = radioButtons(static_cast<QWidget*>(object))->button(e.index)) b->setText(text);
            break;
        case texts::TargetKind::GridHeader: static_cast<CodeGrid*>(object)->setCell(0, e.index, text); break;
        case texts::TargetKind::ComboItem: {
            // The items of one combo box are written as a group; the
            // selection, which carries the value, survives.
            auto* combo = static_cast<QComboBox*>(object);
            const int selected = combo->currentIndex();
            combo->setCurrentIndex(-1);
            combo->clear();
            combo->addItem(text);
            while (i + 1 < entries.size() && entries[i + 1].kind == texts::TargetKind::ComboItem &&
                   target == QLatin1String(entries[i + 1].target))
                combo->addItem(QString::fromUtf8(entries[++i].text[language]));
            combo->setCurrentIndex(selected);
            break;
        }
        }
    }
    for (int g = 0; g < kSettingsGroupCount; ++g) {
        const auto group = static_cast<SettingsGroup>(g);
        if (auto* box = qobject_cast<QGroupBox*>(named_.value(QString::fromLatin1(groupObjectName(group)))))
            box->setTitle(QString::fromUtf8(texts::groupCaption(group, language)));
    }
    for (int g = 0; g < kGridCount; ++g) updateGridTitle(static_cast<GridId>(g));
    applyCsvMenuLanguage();
    if (hooks_.languageApplied) hooks_.languageApplied(language);
}

void MainWindow::updateGridTitle(GridId id) {
    const QString caption = QString::fromStdString(texts::gridCaption(id, document_.language));
    gridBoxes_[static_cast<int>(id)]->setTitle(QStringLiteral("%1 (%2)").arg(caption).arg(grid(id)->filledRowCount()));
}

QString MainWindow::entryMessage(texts::EntryProblem problem, GridId id, int row) const {
    const CodeGrid* g = grid(id);
    texts::EntryMessageParts parts;
    for (int page = 0; page < pages_->count(); ++page)
        if (pages_->widget(page)->isAncestorOf(g)) parts.tabCaption = pages_->tabText(page).toStdString();
    parts.groupCaption = texts::gridCaption(id, document_.language);  // without the row count
    parts.row = row;
    for (int c = 0; c < g->columnCount(); ++c) {
        parts.headers.push_back(g->cell(0, c).toStdString());
        parts.cells.push_back(g->cell(row, c).toStdString());
    }
    parts.capacity = tableCapacity(id);
    return QString::fromStdString(texts::buildEntryMessage(problem, document_.language, parts));
}

bool MainWindow::ReportInvalidEntry(GridId id, int row) {
    // Under the message: which cell, and the rule it breaks.
    const CodeGrid* g = grid(id);
    Grid::Row cells;
    for (int c = 0; c < g->columnCount(); ++c) cells.push_back(g->cell(row, c).toStdString());
    const RowCheck check = checkGridRow(id, cells);
    const QString why = check.column < 0 ? QString()
                                         : QString::fromStdString(texts::brokenRuleText(
                                               g->cell(0, check.column).toStdString(), check.rule, document_.language));
    return prompts().abortOrIgnore(this, QString::fromLatin1(kApplicationTitle),
                                   entryMessage(texts::EntryProblem::Invalid, id, row), why);
}

void MainWindow::ReportRepeatedEntry(GridId id, int row) {
    prompts().error(this, QString::fromLatin1(kApplicationTitle), entryMessage(texts::EntryProblem::Repeated, id, row));
}

void MainWindow::ReportTableFull(GridId id, int row) {
    prompts().error(this, QString::fromLatin1(kApplicationTitle), entryMessage(texts::EntryProblem::TableFull, id, row));
}

// Edit masks of the grids' columns.

QString MainWindow::keysEditMask(int column, int) const {
    switch (column) {
    case 0: return QStringLiteral("9999");
    case 1: return QStringLiteral(">AA AA AA AA AA AA AA AA");
    }
    return {};
}

QString MainWindow::residentsEditMask(int column, int) const {
    switch (column) {
    case 0: return QStringLiteral("9.999");
    case 1:
    case 2:
    case 3: return QStringLiteral("9999");
    }
    return {};
}

QString MainWindow::generalCodesEditMask(int column, int) const {
    switch (column) {
    case 0: return QStringLiteral("9999");
    case 1: return QStringLiteral("999");
    case 2: return QStringLiteral("9");
    }
    return {};
}

QString MainWindow::digitizersEditMask(int column, int) const {
    switch (column) {
    case 0: return QStringLiteral("9.999");
    case 1:
    case 2: return QStringLiteral("999");
    }
    return {};
}

// "+" and "-" of the grids.

void MainWindow::addRow(GridId id) {
    CodeGrid* g = grid(id);
    if (g->plainRowCount() > gridRowLimit(id)) return;
    g->commitEdit();
    Grid plain = g->toGrid();
    AddGridRow(plain, gridRowLimit(id));
    g->setGrid(plain);
    g->setFocus();
}

void MainWindow::deleteRow(GridId id) {
    CodeGrid* g = grid(id);
    g->commitEdit();
    Grid plain = g->toGrid();
    DeleteGridRow(plain);
    g->setGrid(plain);
    g->setFocus();
}

void MainWindow::onAddKey() { addRow(GridId::Keys); }
void MainWindow::onDeleteKey() { deleteRow(GridId::Keys); }
void MainWindow::onAddResident() { addRow(GridId::Residents); }
void MainWindow::onDeleteResident() { deleteRow(GridId::Residents); }
void MainWindow::onAddGeneralCode() { addRow(GridId::GeneralCodes); }
void MainWindow::onDeleteGeneralCode() { deleteRow(GridId::GeneralCodes); }
void MainWindow::onAddDigitizer() { addRow(GridId::Digitizers); }
void MainWindow::onDeleteDigitizer() { deleteRow(GridId::Digitizers); }

}  // namespace kelvane::shell
