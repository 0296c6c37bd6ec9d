// Saving and loading data files.
#include "files/cp1250.h"
#include "files/data_file.h"
#include "print/qt_path.h"
#include "shell/main_window.h"
#include "texts/file_texts.h"

#include <QFileInfo>
#include <QPlainTextEdit>

namespace kelvane::shell {

void MainWindow::onSaveFile() { saveDataFile(); }

bool MainWindow::saveDataFile() {
    // A file saved without the typed edits would lose them while the window still shows them.
    if (!storeTypedEdits()) return false;
    const QString text = description();
    // Characters the file's code page cannot hold would become "?" without a word.
    const QString lost = QString::fromStdString(cp1250Unmappable(text.toStdString()));
    if (!lost.isEmpty()) {
        const QString question = QString::fromUtf8(texts::messageText(texts::Message::Cp1250Loss, CurrentLanguage()))
                                     .replace(QLatin1String("%s"), lost);
        enum { SaveAnyway, Back };
        if (prompts().choose(this, QString::fromLatin1(kApplicationTitle), question,
                             {messageText(texts::Message::ButtonSaveAnyway), messageText(texts::Message::ButtonBack)},
                             Back, Back) != SaveAnyway)
            return false;
    }
    // A name the writer refuses (read-only, not a file, a stranger's link) is
    // named and another asked for; the refused path is left as it was.
    QString path;
    for (;;) {
        path = prompts().chooseFile(saveDialog_);
        if (path.isEmpty()) return false;
        if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".kvd");
        WriteFault fault = WriteFault::None;
        if (saveDataFileTo(fsPath(path), document_.working, text.toStdString(), &fault)) break;
        prompts().message(this, QString::fromLatin1(kApplicationTitle),
                          QString::fromStdString(texts::writeFaultText(fault, CurrentLanguage())));
        if (fault != WriteFault::NotRegular && fault != WriteFault::ReadOnly && fault != WriteFault::UnsafeLink)
            return false;
    }
    document_.edits.imageKept(document_.working);
    document_.edits.descriptionKept(text.toStdString());
    setOpenFile(path);
    updateModified();
    const QString name = QFileInfo(path).fileName();
    setStatus([this, name](int) { return formatMessage(texts::Message::FileSaved, {name}); });
    if (hooks_.saved) hooks_.saved(path);
    return true;
}

void MainWindow::onLoadFile() {
    if (!confirmDiscard(texts::Message::UnsavedLoad)) return;
    const QString path = prompts().chooseFile(openDialog_);
    if (path.isEmpty()) return;
    loadDataFile(path);
}

bool MainWindow::loadDataFile(const QString& path) {
    const std::optional<DataFile> file = loadDataFileFrom(fsPath(path));
    if (!file) {
        prompts().message(this, QString::fromLatin1(kApplicationTitle), messageText(texts::Message::LoadError));
        return false;
    }
    document_.working = file->image;
    // The file's text goes into the emptied box as one new line.
    setDescription(QString::fromStdString(file->description) + QStringLiteral("\r\n"));
    DisplayData();
    document_.edits.imageKept(document_.working);
    document_.edits.descriptionKept(description().toStdString());
    if (hooks_.loaded) hooks_.loaded();
    setOpenFile(path);
    updateModified();
    const QString name = QFileInfo(path).fileName();
    setStatus([this, name](int) { return formatMessage(texts::Message::FileOpened, {name}); });
    return true;
}

void MainWindow::loadImage(const Image& image) {
    document_.working = image;
    setDescription(QString());
    DisplayData();
    document_.edits.imageKept(document_.working);
    document_.edits.descriptionKept(description().toStdString());
    if (hooks_.loaded) hooks_.loaded();
}

}  // namespace kelvane::shell
