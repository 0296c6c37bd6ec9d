// Saves the manual's pictures of the building register, in Polish: the
// Register window over a small generated register, the same with the company
// register (a colleague's visit, a replaced name, the sync's state), and the
// warning before an upload to another building's controller.
// Usage: kelvane_register_picture FOLDER
#include "image/codecs.h"
#include "registry/building_register.h"
#include "shell/company_sync_runner.h"
#include "shell/register_dialog.h"
#include "sim/sample_building.h"
#include "texts/language_table.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTreeWidget>

using namespace kelvane;

namespace {

bool save(QWidget& widget, const QString& path) {
    widget.show();
    QApplication::processEvents();
    QTextStream out(stdout);
    if (!widget.grab().save(path)) {
        out << "cannot write " << path << "\n";
        return false;
    }
    out << path << "\n";
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    const QStringList args = QApplication::arguments();
    const QDir folder(args.size() > 1 ? args[1] : QStringLiteral("."));
    const auto text = [](texts::Message m) { return QString::fromUtf8(texts::messageText(m, texts::kPolish)); };

    QTemporaryDir dir;
    registry::Register reg;
    if (!dir.isValid() || !reg.open(dir.filePath(QStringLiteral("register.sqlite")).toStdString())) return 1;
    const registry::ControllerKey lipowa{1, 4660}, polna{1, 12345}, sad{2, 771};
    reg.describe(lipowa, "Lipowa 5, klatka A", "ul. Lipowa 5, Kraków");
    reg.describe(polna, "Polna 12", "ul. Polna 12, Wieliczka");
    reg.describe(sad, "Sadowa 3", "ul. Sadowa 3, Kraków");
    // Lipowa's visits: a download, an upload of new residents, then a code
    // changed at the keypad found at the next download.
    Image image = sampleBuildingImage();
    const struct {
        const char* time;
        registry::VisitKind kind;
        int openCode;
    } visits[] = {{"2026-11-03T10:15:00+01:00", registry::VisitKind::Download, 0},
                  {"2026-11-03T10:32:00+01:00", registry::VisitKind::Upload, 4444},
                  {"2026-12-08T09:05:00+01:00", registry::VisitKind::Download, 1357}};
    for (const auto& v : visits) {
        if (v.openCode) writeBcdCode(image, residentOffset(ResidentCode::Open, 1, 3), v.openCode);
        registry::NewVisit nv;
        nv.key = lipowa;
        nv.kind = v.kind;
        nv.time = v.time;
        nv.port = "/dev/ttyUSB0";
        nv.technician = "jkowalski";
        nv.firmware = 0x0105;
        nv.image = image;
        reg.recordVisit(nv);
    }
    registry::NewVisit other;
    other.key = polna;
    other.time = "2026-10-21T14:40:00+02:00";
    other.technician = "jkowalski";
    other.image = sampleBuildingImage();
    reg.recordVisit(other);

    shell::RegisterDialog dialog(nullptr, reg, texts::kPolish);
    // Its own size: as wide as its columns need.
    for (int i = 0; i < dialog.buildings()->topLevelItemCount(); ++i)
        if (dialog.buildings()->topLevelItem(i)->text(0).startsWith(QStringLiteral("Lipowa")))
            dialog.buildings()->setCurrentItem(dialog.buildings()->topLevelItem(i));
    if (!save(dialog, folder.filePath(QStringLiteral("rejestr.png")))) return 1;
    dialog.hide();

    // The company register: a colleague's later visit, the name she gave the
    // building replacing the one before, synchronised this morning.
    registry::NewVisit colleague;
    colleague.key = lipowa;
    colleague.kind = registry::VisitKind::Check;
    colleague.time = "2026-12-09T08:20:00+01:00";
    colleague.port = "COM3";
    colleague.technician = "Anna Nowak";
    colleague.firmware = 0x0105;
    colleague.image = image;
    reg.recordVisit(colleague);
    const QDate today = QDate::currentDate();
    shell::CompanySyncHooks hooks;
    hooks.read = [today] {
        texts::CompanyRegisterState s;
        s.serverSet = true;
        s.lastSync = texts::LocalTime{today.year(), today.month(), today.day(), 10, 42, 0};
        return s;
    };
    hooks.run = [](const std::atomic<bool>&) { return registry::ServerReason(); };
    shell::CompanySyncRunner runner(hooks);
    shell::RegisterDialog company(nullptr, reg, texts::kPolish);
    company.setFieldHistory([](const registry::ControllerKey&) {
        return std::vector<shell::ReplacedEdit>{
            {"name", "2026-11-03T10:20:00+01:00", "jkowalski", "Lipowa 5", "Lipowa 5, klatka A"}};
    });
    company.setCompanySync(&runner);
    for (int i = 0; i < company.buildings()->topLevelItemCount(); ++i)
        if (company.buildings()->topLevelItem(i)->text(0).startsWith(QStringLiteral("Lipowa")))
            company.buildings()->setCurrentItem(company.buildings()->topLevelItem(i));
    if (!save(company, folder.filePath(QStringLiteral("rejestr_firmy.png")))) return 1;
    company.hide();

    QMessageBox box(QMessageBox::Warning, text(texts::Message::WrongBuildingTitle),
                    shell::wrongBuildingWarning(texts::kPolish, QStringLiteral("Lipowa 5, klatka A (1/4660)"),
                                                QStringLiteral("Polna 12 (1/12345)")));
    box.addButton(text(texts::Message::WrongBuildingSend), QMessageBox::ActionRole);
    box.setDefaultButton(box.addButton(text(texts::Message::ButtonCancel), QMessageBox::ActionRole));
    return save(box, folder.filePath(QStringLiteral("inny_budynek.png"))) ? 0 : 1;
}
