// Saves a picture of each page of the main window, filled with the sample
// building's configuration, in Polish: page0.png .. page5.png in the given
// folder. A second argument 1 or 2 takes the pictures in that language.
#include "shell/code_grid.h"
#include "shell/main_window.h"
#include "sim/sample_building.h"

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QTabWidget>
#include <QTextStream>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // As on a Polish system (spin edits show plain digits whatever the locale).
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    const QStringList args = QApplication::arguments();
    const QString folder = args.size() > 1 ? args[1] : QStringLiteral(".");
    QDir().mkpath(folder);
    kelvane::shell::MainWindow window;
    window.document().working = kelvane::sampleBuildingImage();
    window.DisplayData();
    window.setDescription(QStringLiteral("Budynek przy ul. Słonecznej 12, klatka A.\r\nZasilacz w szafce na parterze."));
    if (args.size() > 2) window.ApplyLanguage(args[2].toInt());
    window.show();
    QTextStream out(stdout);
    for (int page = 0; page < window.pages_->count(); ++page) {
        window.pages_->setCurrentIndex(page);
        QApplication::processEvents();
        const QString file = QDir(folder).filePath(QStringLiteral("page%1.png").arg(page));
        if (!window.grab().save(file)) {
            out << "cannot write " << file << "\n";
            return 1;
        }
        out << file << "\n";
    }
    return 0;
}
