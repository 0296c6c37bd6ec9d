// The code grids as spreadsheet files: export of one grid or all four, and the
// import of a file into one grid after a preview.
#include "files/grid_csv.h"
#include "print/qt_path.h"
#include "shell/code_grid.h"
#include "shell/csv_import_dialog.h"
#include "texts/file_texts.h"
#include "texts/grid_csv_texts.h"
#include "texts/language_table.h"
#include "shell/main_window.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>

#include <algorithm>

namespace kelvane::shell {

namespace {
// Data rows with at least one cell filled (row 0 is the header).
int filledRows(const Grid& g) {
    int n = 0;
    for (std::size_t r = 1; r < g.rows.size(); ++r)
        n += std::any_of(g.rows[r].begin(), g.rows[r].end(), [](const std::string& c) { return !c.empty(); });
    return n;
}
}  // namespace

QFileDialog* MainWindow::csvDialog(const char* name, QFileDialog::AcceptMode accept, QFileDialog::FileMode files) {
    auto* dialog = findChild<QFileDialog*>(QString::fromLatin1(name));
    if (!dialog) {
        dialog = new QFileDialog(this);
        dialog->setObjectName(QString::fromLatin1(name));
        dialog->setAcceptMode(accept);
        dialog->setFileMode(files);
        if (files == QFileDialog::Directory) dialog->setOption(QFileDialog::ShowDirsOnly);
    }
    // Texts in the language of the moment.
    if (files != QFileDialog::Directory) {
        dialog->setNameFilter(messageText(texts::Message::CsvFileFilter));
        dialog->setDefaultSuffix(QStringLiteral("csv"));
    }
    return dialog;
}

void MainWindow::buildCsvMenus(QMenu* menu, QAction* before) {
    auto* exportMenu = new QMenu(QStringLiteral("Eksport tabeli do CSV"), this);
    exportMenu->setObjectName(QStringLiteral("EXPORT_CSV_Menu"));
    exportMenu->menuAction()->setObjectName(QStringLiteral("EXPORT_CSV"));
    auto* importMenu = new QMenu(QStringLiteral("Import tabeli z CSV"), this);
    importMenu->setObjectName(QStringLiteral("IMPORT_CSV_Menu"));
    importMenu->menuAction()->setObjectName(QStringLiteral("IMPORT_CSV"));
    for (int g = 0; g < kGridCount; ++g) {
        const GridId id = static_cast<GridId>(g);
        auto* out = exportMenu->addAction(QString::fromStdString(texts::gridCaption(id, 0)));
        out->setObjectName(QStringLiteral("EXPORT_CSV_%1").arg(QString::fromLatin1(csvTableName(id))));
        connect(out, &QAction::triggered, this, [this, id] { exportCsv(id); });
        auto* in = importMenu->addAction(QString::fromStdString(texts::gridCaption(id, 0)));
        in->setObjectName(QStringLiteral("IMPORT_CSV_%1").arg(QString::fromLatin1(csvTableName(id))));
        connect(in, &QAction::triggered, this, [this, id] { importCsv(id); });
    }
    exportMenu->addSeparator();
    auto* all = exportMenu->addAction(QStringLiteral("Wszystkie tabele do folderu…"));
    all->setObjectName(QStringLiteral("EXPORT_CSV_ALL"));
    connect(all, &QAction::triggered, this, &MainWindow::exportAllCsv);
    menu->insertMenu(before, exportMenu);
    menu->insertMenu(before, importMenu);
}

void MainWindow::applyCsvMenuLanguage() {
    for (int g = 0; g < kGridCount; ++g) {
        const GridId id = static_cast<GridId>(g);
        const QString caption = QString::fromStdString(texts::gridCaption(id, CurrentLanguage()));
        for (const char* prefix : {"EXPORT_CSV_", "IMPORT_CSV_"})
            if (auto* a = findChild<QAction*>(QString::fromLatin1(prefix) + QString::fromLatin1(csvTableName(id))))
                a->setText(caption);
    }
}

Grid MainWindow::gridForCsv(GridId id) const {
    CodeGrid* g = grid(id);
    g->commitEdit();  // what is being typed counts too
    return g->toGrid();
}

void MainWindow::exportCsv(GridId id) {
    QFileDialog* dialog = csvDialog("CsvSaveDialog", QFileDialog::AcceptSave, QFileDialog::AnyFile);
    dialog->setWindowTitle(QString::fromStdString(texts::gridCaption(id, CurrentLanguage())));
    dialog->selectFile(QString::fromStdString(csvFileName(id)));
    QString path = prompts().chooseFile(dialog);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".csv");
    const Grid g = gridForCsv(id);
    WriteFault fault = WriteFault::None;
    if (!saveTextFile(fsPath(path), exportGridCsv(g, g.rows[0]), &fault)) {
        showMessage(QString::fromStdString(texts::writeFaultText(fault, CurrentLanguage())));
        return;
    }
    const QString name = QFileInfo(path).fileName();
    const QString rows = QString::number(filledRows(g));
    setStatus([this, name, rows](int) { return formatMessage(texts::Message::CsvWritten, {name, rows}); });
}

void MainWindow::exportAllCsv() {
    QFileDialog* dialog = csvDialog("CsvFolderDialog", QFileDialog::AcceptOpen, QFileDialog::Directory);
    dialog->setWindowTitle(messageText(texts::Message::CsvExportAllTitle));
    const QString folder = prompts().chooseFile(dialog);
    if (folder.isEmpty()) return;
    for (int i = 0; i < kGridCount; ++i) {
        const GridId id = static_cast<GridId>(i);
        const Grid g = gridForCsv(id);
        const QString path = QDir(folder).filePath(QString::fromStdString(csvFileName(id)));
        WriteFault fault = WriteFault::None;
        if (!saveTextFile(fsPath(path), exportGridCsv(g, g.rows[0]), &fault)) {
            showMessage(QString::fromStdString(texts::writeFaultText(fault, CurrentLanguage())));
            return;
        }
    }
    const QString shown = QDir::toNativeSeparators(folder);
    setStatus([this, shown](int) {
        return formatMessage(texts::Message::CsvFolderWritten, {shown, QString::number(kGridCount)});
    });
}

void MainWindow::importCsv(GridId id) {
    QFileDialog* dialog = csvDialog("CsvOpenDialog", QFileDialog::AcceptOpen, QFileDialog::ExistingFile);
    dialog->setWindowTitle(QString::fromStdString(texts::gridCaption(id, CurrentLanguage())));
    const QString path = prompts().chooseFile(dialog);
    if (path.isEmpty()) return;
    std::string bytes;
    ReadFault fault = ReadFault::None;
    if (!loadFileBytes(fsPath(path), bytes, &fault)) {
        showMessage(QString::fromStdString(texts::readFaultText(fault, CurrentLanguage())));
        return;
    }
    const Grid current = gridForCsv(id);
    CsvImportDialog preview(id, std::move(bytes), current, CurrentLanguage(), this);
    if (preview.result().fault != CsvFileFault::None) {
        showMessage(QString::fromStdString(texts::csvFaultText(preview.result(), id, CurrentLanguage())));
        return;
    }
    if (prompts().runDialog(&preview) != QDialog::Accepted) return;
    grid(id)->setGrid(preview.result().grid);
    const QString name = QFileInfo(path).fileName();
    const QString rows = QString::number(preview.result().added + preview.result().replaced + preview.result().unchanged);
    setStatus([this, id, name, rows](int language) {
        return formatMessage(texts::Message::CsvRead,
                             {QString::fromStdString(texts::gridCaption(id, language)), name, rows});
    });
}

void MainWindow::onPrintPreview() {
    if (hooks_.preview && storeTypedEdits()) hooks_.preview();
}

void MainWindow::onSaveCardsPdf() {
    if (hooks_.pdf && storeTypedEdits()) hooks_.pdf();
}

}  // namespace kelvane::shell
