#include "shell/start_up.h"

#include "shell/about_box.h"
#include "shell/main_window.h"
#include "shell/splash.h"

#include <QMessageBox>

#include <exception>
#include <memory>

namespace kelvane::shell {

KelvaneApplication::KelvaneApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool KelvaneApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        showException(QString::fromUtf8(e.what()));
    } catch (...) {
        showException(QString());
    }
    QCoreApplication::exit(0);
    return false;
}

void showException(const QString& message) {
    QMessageBox::critical(nullptr, QString::fromLatin1(kApplicationTitle), message);
}

int runKelvaneMini(int argc, char** argv, const std::function<void(MainWindow&)>& wire) {
    KelvaneApplication app(argc, argv);
    try {
        // Settings, backups (user data) and the desktop's window class go by the
        // program's name; the title heads the message boxes.
        QApplication::setOrganizationName(QStringLiteral("Kelvane"));
        QApplication::setApplicationName(QStringLiteral("KelvaneMini"));
        // The main window is shown by the splash when its time is up.
        auto mainWindow = std::make_unique<MainWindow>();
        if (wire) wire(*mainWindow);
        auto* about = new AboutBox(mainWindow.get());
        mainWindow->setAboutBox(about);
        new SplashWindow(mainWindow.get());
        app.exec();
        // A transfer still ending (an upload sends its end frame) keeps the
        // process a moment longer: no window stays on the screen meanwhile.
        for (QWidget* window : QApplication::topLevelWidgets()) window->hide();
    } catch (const std::exception& e) {
        showException(QString::fromUtf8(e.what()));
    } catch (...) {
        showException(QString());
    }
    return 0;
}

}  // namespace kelvane::shell
