// Saves a picture of the upload question for a file prepared from an older
// image of the building, in Polish, as the manual's safe-changes page shows
// it: the file's edits, codes changed at the keypad since, and one conflict.
// Usage: kelvane_merge_picture FILE.png
#include "image/codecs.h"
#include "image/merge.h"
#include "shell/merge_dialog.h"
#include "sim/sample_building.h"
#include "texts/language_table.h"

#include <QApplication>
#include <QLocale>
#include <QTextStream>

using namespace kelvane;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    const QStringList args = QApplication::arguments();
    const QString path = args.size() > 1 ? args[1] : QStringLiteral("scalanie.png");

    // What the controller holds now: the sample building.
    const Image controller = sampleBuildingImage();
    const auto open = [](int line, int local) { return residentOffset(ResidentCode::Open, line, local); };
    // The image the office started from: before residents 1.3 and 2.5
    // changed their open codes at the keypad.
    Image base = controller;
    writeBcdCode(base, open(1, 3), 123);
    writeBcdCode(base, open(2, 5), 2580);
    // The office's file: a longer call time, a new open code for 1.3 and for 1.7.
    Image file = base;
    file[mem::kParams + 22] = 60;
    writeBcdCode(file, open(1, 3), 4444);
    writeBcdCode(file, open(1, 7), 7777);

    const ThreeWayMerge merge = mergeVersions({base, {}}, {file, {}}, {controller, {}});
    shell::MergeDialogOptions options;
    options.baseDate = QStringLiteral("3.11.2026 10:15");
    shell::MergeDialog dialog(nullptr, merge, options, texts::kPolish);
    dialog.resize(900, 480);
    dialog.show();
    QApplication::processEvents();
    QTextStream out(stdout);
    if (!dialog.grab().save(path)) {
        out << "cannot write " << path << "\n";
        return 1;
    }
    out << path << "\n";
    return 0;
}
