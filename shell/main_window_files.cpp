// Saving and loading data files.
#include "files/data_file.h"
#include "shell/main_window.h"
#include "shell/program_state.h"

#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>

namespace kelvane::shell {

void TForm1::SAVEClick() {
    QString path = prompts().chooseFile(SaveDialog1);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".kvd");
    // The working image as it stands: edits reach it only by verification or upload.
    if (!SaveDataFile(QFile::encodeName(path).toStdString(), workingImage(), description().toStdString()))
        prompts().message(this, QString::fromLatin1(kApplicationTitle), messageText(lang::Message::SaveError));
}

void TForm1::LOADClick() {
    const QString path = prompts().chooseFile(OpenDialog1);
    if (path.isEmpty()) return;
    const std::optional<DataFile> file = LoadDataFile(QFile::encodeName(path).toStdString());
    if (!file) {
        prompts().message(this, QString::fromLatin1(kApplicationTitle), messageText(lang::Message::LoadError));
        return;
    }
    workingImage() = file->image;
    // The file's text goes into the emptied box as one new line.
    setDescription(QString::fromStdString(file->description) + QStringLiteral("\r\n"));
    DisplayData();
}

}  // namespace kelvane::shell
