// Saves the manual's pictures of the flat actions and the visit report, in
// Polish: the residents' menu (przeprowadzki.png), the box asking for the key
// that replaces a lost one (nowy_klucz.png), and the visit report of a
// generated register as a PDF (the script turns its page into raport.png).
// Usage: kelvane_flat_picture FOLDER REPORT.pdf
#include "jobs/visit_report.h"
#include "print/report_render.h"
#include "registry/building_register.h"
#include "registry/key_store.h"
#include "shell/code_grid.h"
#include "shell/flat_menu.h"
#include "shell/form_wiring.h"
#include "shell/main_window.h"
#include "shell/prompts.h"
#include "image/flat_actions.h"
#include "sim/sample_building.h"
#include "texts/flat_action_texts.h"
#include "texts/report_text.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

using namespace kelvane;

namespace {

bool save(const QPixmap& picture, const QString& path) {
    QTextStream out(stdout);
    if (!picture.save(path)) {
        out << "cannot write " << path << "\n";
        return false;
    }
    out << path << "\n";
    return true;
}

// Real boxes, but the new key's box is drawn with a key typed, then closed.
struct PicturePrompts : shell::WidgetPrompts {
    QString folder;
    bool saved = false;
    int runDialog(QDialog* dialog) override {
        if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("NewKeyEdit")))
            edit->setText(QStringLiteral("3D 00 00 00 00 00 00 01"));
        dialog->show();
        QApplication::processEvents();
        saved = save(dialog->grab(), QDir(folder).filePath(QStringLiteral("nowy_klucz.png")));
        return QDialog::Rejected;
    }
};

// The report of a generated visit: new residents and a new general code.
bool writeReport(const QString& path) {
    QTemporaryDir dir;
    if (!dir.isValid()) return false;
    // A key of its own, so the register keeps the visits' images.
    registry::setKeyFile(dir.filePath(QStringLiteral("data.key")).toStdString());
    registry::reloadDataKey();
    registry::Register reg;
    if (!reg.open(dir.filePath(QStringLiteral("register.sqlite")).toStdString())) return false;
    const registry::ControllerKey lipowa{1, 4660};
    reg.describe(lipowa, "Lipowa 5, klatka A", "ul. Lipowa 5, Kraków");
    registry::NewVisit v;
    v.key = lipowa;
    v.firmware = 106;
    v.technician = "jkowalski";
    v.image = sampleBuildingImage();
    v.time = "2026-12-09T10:05:00+01:00";
    reg.recordVisit(v);
    Image after = movedOut(*v.image, {1, 3}).image;
    after = newResident(after, {1, 3}, {true, 4071, 5820}).image;
    after = newGeneralCode(after, 9753, 6184).image;
    v.kind = registry::VisitKind::Upload;
    v.image = after;
    v.time = "2026-12-09T10:32:00+01:00";
    const auto recorded = reg.recordVisit(v);
    if (!recorded) return false;
    const auto gathered = jobs::gatherVisitReport(reg, lipowa, recorded->visitId);
    if (!gathered.report) return false;
    const auto sheet = texts::visitReportSheet(*gathered.report, texts::kPolish, texts::CodeView::Masked,
                                               {2026, 12, 9, 10, 40, 0}, "KelvaneMini");
    return WriteReportPdf(pathFromUtf8(path.toStdString()), sheet);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    const QStringList args = QApplication::arguments();
    if (args.size() < 3) return 2;
    const QString folder = args[1];
    QDir().mkpath(folder);
    if (!writeReport(args[2])) return 1;

    shell::MainWindow window;
    PicturePrompts prompts;
    prompts.folder = folder;
    window.setPrompts(&prompts);
    shell::wireKelvaneMini(window);
    window.document().working = sampleBuildingImage();
    window.DisplayData();
    window.show();
    window.pages_->setCurrentIndex(0);
    QApplication::processEvents();

    // The residents' menu on flat 1.5, drawn over the window where it opens.
    shell::CodeGrid* grid = window.grid(GridId::Residents);
    grid->setCurrentCell(4, 0);
    const QPoint at(grid->columnViewportPosition(1) + 10, grid->rowViewportPosition(4) + 4);
    bool menuSaved = false;
    QTimer::singleShot(300, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu) {
            QPixmap picture = window.grab();
            QPainter painter(&picture);
            painter.drawPixmap(window.mapFromGlobal(menu->pos()), menu->grab());
            painter.end();
            menuSaved = save(picture, QDir(folder).filePath(QStringLiteral("przeprowadzki.png")));
            menu->close();
        }
    });
    emit grid->customContextMenuRequested(at);

    // "Zgubiony klucz" on the first key: the box for its replacement.
    shell::runFlatAction(window, FlatAction::LostKey, 1);
    return menuSaved && prompts.saved ? 0 : 1;
}
