// An exception escaping an event handler reaches the application object: its
// message is shown in a box and the message loop ends with 0.
#include "shell/start_up.h"

#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <stdexcept>

int main(int argc, char** argv) {
    kelvane::shell::KelvaneApplication app(argc, argv);
    QString shown;
    bool handlerRan = false;
    // Closes the box once it is up, noting what it said.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    closer.start(20);
    QTimer::singleShot(0, [&] {
        handlerRan = true;
        throw std::runtime_error("Brak pamięci");
    });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(3); });  // the exception never arrived
    const int code = app.exec();
    if (!handlerRan || code != 0 || shown != QStringLiteral("Brak pamięci")) {
        std::fprintf(stderr, "exit %d, shown \"%s\"\n", code, qPrintable(shown));
        return 1;
    }
    return 0;
}
