// Saving and loading data files.
#include "files/cp1250.h"
#include "files/data_file.h"
#include "print/qt_path.h"
#include "shell/main_window.h"
#include "shell/program_state.h"
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
    const QString lost = QString::fromStdString(Cp1250Unmappable(text.toStdString()));
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
        if (SaveDataFile(FsPath(path), workingImage(), text.toStdString(), &fault)) break;
        prompts().message(this, QString::fromLatin1(kApplicationTitle),
                          QString::fromStdString(texts::writeFaultText(fault, CurrentLanguage())));
        if (fault != WriteFault::NotRegular && fault != WriteFault::ReadOnly && fault != WriteFault::UnsafeLink)
            return false;
    }
    edits_.imageKept(workingImage());
    edits_.descriptionKept(text.toStdString());
    setOpenFile(path);
    updateModified();
    const QString name = QFileInfo(path).fileName();
    setStatus([this, name](int) { return formatMessage(texts::Message::FileSaved, {name}); });
    return true;
}

void MainWindow::onLoadFile() {
    if (!confirmDiscard(texts::Message::UnsavedLoad)) return;
    const QString path = prompts().chooseFile(openDialog_);
    if (path.isEmpty()) return;
    loadDataFile(path);
}

bool MainWindow::loadDataFile(const QString& path) {
    const std::optional<DataFile> file = LoadDataFile(FsPath(path));
    if (!file) {
        prompts().message(this, QString::fromLatin1(kApplicationTitle), messageText(texts::Message::LoadError));
        return false;
    }
    workingImage() = file->image;
    // The file's text goes into the emptied box as one new line.
    setDescription(QString::fromStdString(file->description) + QStringLiteral("\r\n"));
    DisplayData();
    edits_.imageKept(workingImage());
    edits_.descriptionKept(description().toStdString());
    if (hooks_.loaded) hooks_.loaded();
    setOpenFile(path);
    updateModified();
    const QString name = QFileInfo(path).fileName();
    setStatus([this, name](int) { return formatMessage(texts::Message::FileOpened, {name}); });
    return true;
}

}  // namespace kelvane::shell
