// The register's window on a register file, offscreen: search, visits newest
// first, compare, open, save as a data file, edit the details.
#include "files/data_file.h"
#include "shell/company_sync_runner.h"
#include "shell/register_dialog.h"
#include "texts/language_table.h"
#include "sim/sample_building.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <atomic>
#include <chrono>
#include <thread>

using namespace kelvane;
using namespace kelvane::shell;

namespace {

const registry::ControllerKey kA{1, 4660}, kB{2, 12345};

Image withCode(std::uint8_t code) {
    Image img = sampleBuildingImage();
    img[mem::kOpenLU1] = code;
    return img;
}

}  // namespace

class RegisterDialogTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void searchesComparesOpensSavesAndEdits() {
        registry::Register reg;
        QVERIFY(reg.open(dir.filePath(QStringLiteral("search.sqlite")).toStdString()));
        const char* times[] = {"2026-11-03T10:00:00+01:00", "2026-11-20T10:00:00+01:00", "2026-12-01T10:00:00+01:00"};
        for (int i = 0; i < 3; ++i) {
            registry::NewVisit v;
            v.key = kA;
            v.image = withCode(static_cast<std::uint8_t>(0x11 * (i + 1)));
            v.time = times[i];
            if (i == 2) v.outcome = "completed, firmware 259 -> 106";
            QVERIFY(reg.recordVisit(v));
        }
        registry::NewVisit other;
        other.key = kB;
        other.kind = registry::VisitKind::Check;
        QVERIFY(reg.recordVisit(other));  // a visit without an image
        QVERIFY(reg.describe(kA, "Lipowa 5", "ul. Lipowa 5"));

        RegisterDialog dialog(nullptr, reg, texts::kPolish);
        dialog.show();
        QCOMPARE(dialog.buildings()->topLevelItemCount(), 2);
        const struct {
            const char* search;
            int found;
            const char* said;
        } searches[] = {{"lipowa", 1, ""}, {"12345", 1, ""}, {"nowhere", 0, "brak wyników"}, {"", 2, ""}};
        for (const auto& s : searches) {
            dialog.searchField()->setText(QString::fromLatin1(s.search));
            QCOMPARE(dialog.buildings()->topLevelItemCount(), s.found);
            QCOMPARE(dialog.noResultsText(), QString::fromUtf8(s.said));
        }
        dialog.searchField()->setText(QStringLiteral("Lipowa"));
        QTreeWidget* visits = dialog.visits();
        QCOMPARE(visits->topLevelItemCount(), 3);
        // Newest first, to the second, the outcome in the window's language.
        QCOMPARE(visits->topLevelItem(0)->text(0), QStringLiteral("1.12.2026 10:00:00"));
        QCOMPARE(visits->topLevelItem(0)->text(3), QStringLiteral("ukończono, oprogramowanie 259 → 106"));
        QCOMPARE(visits->topLevelItem(1)->text(3), QStringLiteral("ukończono"));
        // Every column of the visits shows whole, even on the test's 800 px screen.
        QTest::qWait(0);
        int width = 0;
        for (int c = 0; c < visits->columnCount(); ++c)
            width += static_cast<QAbstractItemView*>(visits)->sizeHintForColumn(c);
        QVERIFY2(width <= visits->viewport()->width(), qPrintable(QString::number(visits->viewport()->width())));

        // Compare: the older image first, whatever the order of the selection.
        std::optional<std::pair<Image, Image>> compared;
        QString title;
        dialog.showChanges = [&](const Image& older, const Image& newer, const QString& t) {
            compared = {older, newer};
            title = t;
        };
        visits->topLevelItem(0)->setSelected(true);
        visits->topLevelItem(2)->setSelected(true);
        QVERIFY(dialog.findChild<QPushButton*>(QStringLiteral("RegisterCompare"))->isEnabled());
        QVERIFY(!dialog.findChild<QPushButton*>(QStringLiteral("RegisterOpen"))->isEnabled());
        dialog.compareSelected();
        QVERIFY(compared);
        QCOMPARE(compared->first, withCode(0x11));
        QCOMPARE(compared->second, withCode(0x33));
        QCOMPARE(title, QStringLiteral("Porównaj: 3.11.2026 10:00:00 → 1.12.2026 10:00:00"));

        // Save as: a data file of that image, remembered with its building.
        visits->clearSelection();
        visits->topLevelItem(1)->setSelected(true);
        const QString saved = dir.filePath(QStringLiteral("visit.kvd"));
        dialog.askSavePath = [&] { return saved; };
        dialog.saveSelected();
        const auto file = loadDataFileFrom(saved.toStdString());
        QVERIFY(file);
        QCOMPARE(file->image, withCode(0x22));
        QVERIFY(!reg.wrongBuilding(withCode(0x22), std::nullopt, kA));
        QVERIFY(reg.wrongBuilding(withCode(0x22), std::nullopt, kB));

        // Details.
        dialog.findChild<QLineEdit*>(QStringLiteral("RegisterAddress"))->setText(QStringLiteral("ul. Lipowa 5a"));
        dialog.findChild<QPlainTextEdit*>(QStringLiteral("RegisterNotes"))->setPlainText(QStringLiteral("gate 2"));
        QVERIFY(dialog.statusText().isEmpty());
        dialog.saveDetails();
        QCOMPARE(dialog.statusText(), QStringLiteral("Zapisano opis budynku"));
        QCOMPARE(reg.controller(kA)->address, std::string("ul. Lipowa 5a"));
        QCOMPARE(reg.controller(kA)->notes, std::string("gate 2"));

        // Open: the image goes to the window, the dialog closes.
        visits->clearSelection();
        visits->topLevelItem(0)->setSelected(true);
        dialog.openSelected();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(*dialog.chosenImage(), withCode(0x33));
        QCOMPARE(*dialog.chosenController(), kA);
    }

    void theCompanyStateFollowsTheSyncOneRunAtATime() {
        registry::Register reg;
        QVERIFY(reg.open(dir.filePath(QStringLiteral("company.sqlite")).toStdString()));
        texts::CompanyRegisterState stored;
        std::atomic<int> permits{0}, runs{0}, inside{0}, most{0};
        CompanySyncHooks hooks;
        hooks.read = [&] { return stored; };
        hooks.run = [&](const std::atomic<bool>& cancel) {
            ++runs;
            most = std::max(most.load(), ++inside);
            // Held until the test lets it go (or the runner cancels it).
            for (int i = 0; i < 5000 && !cancel; ++i) {
                if (int p = permits.load(); p > 0 && permits.compare_exchange_strong(p, p - 1)) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            --inside;
            return registry::ServerReason();
        };
        CompanySyncRunner runner(hooks);
        RegisterDialog dialog(nullptr, reg, texts::kPolish);
        dialog.setCompanySync(&runner);
        dialog.show();

        const QDateTime now = QDateTime::currentDateTime();
        const texts::LocalTime today{now.date().year(), now.date().month(), now.date().day(), 10, 42, 0};
        const struct {
            texts::CompanyRegisterState state;
            const char* shown;
        } states[] = {
            {{false, false, true, today, 3, {}}, ""},  // no server: the row is hidden
            {{true, false, false, today, 0, {}}, "Rejestr firmy: zsynchronizowano 10:42"},
            {{true, false, true, today, 3, {}}, "Rejestr firmy: bez połączenia — 3 wizyty czekają"},
        };
        for (const auto& row : states) {
            stored = row.state;
            emit runner.changed();
            QCOMPARE(dialog.companyText(), QString::fromUtf8(row.shown));
        }

        // "Synchronise now" twice while a run is under way: the second waits
        // for the first, never two at once.
        auto* syncNow = dialog.findChild<QPushButton*>(QStringLiteral("RegisterSyncNow"));
        syncNow->click();
        QTRY_COMPARE(runs.load(), 1);
        QCOMPARE(dialog.companyText(), QStringLiteral("Rejestr firmy: synchronizacja…"));
        syncNow->click();
        permits = 1;
        QTRY_COMPARE(runs.load(), 2);
        permits = 1;
        QTRY_VERIFY(!runner.running());
        QCOMPARE(most.load(), 1);
        QTRY_COMPARE(dialog.companyText(), QString::fromUtf8(states[2].shown));  // the end reaches the window queued

        // Closing cancels a run and waits for it a bounded time.
        runner.request();
        QTRY_COMPARE(runs.load(), 3);
        QVERIFY(runner.stop(std::chrono::milliseconds(2000)));
        runner.request();  // nothing starts after the stop
        QTest::qWait(20);
        QCOMPARE(runs.load(), 3);
    }
};

QTEST_MAIN(RegisterDialogTest)
#include "register_dialog_test.moc"
