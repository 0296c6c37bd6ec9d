#pragma once
// KelvaneMini's start-up: the application object, the windows in their
// order, the splash, the message loop, and the last resort for exceptions.
#include <QApplication>

#include <functional>

namespace kelvane::shell {

class MainWindow;

// Catches an exception that escapes an event handler: shows it and ends the
// message loop, so the program exits with 0.
class KelvaneApplication : public QApplication {
    Q_OBJECT
public:
    KelvaneApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows what an exception said (empty for one that says nothing) in a box.
void showException(const QString& message);

// Runs the program: creates the main window (filled and in Polish), then
// calls `wire` with it (the place for the port dialog and the menu hooks),
// creates the About dialog and the splash, and runs the message loop until
// the program ends. Returns 0.
int runKelvaneMini(int argc, char** argv, const std::function<void(MainWindow&)>& wire = {});

}  // namespace kelvane::shell
