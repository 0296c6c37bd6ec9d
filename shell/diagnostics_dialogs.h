#pragma once
// The windows of field diagnostics: what a support bundle will hold before
// it is written, the line test of the chosen port, and finding an adapter by
// unplugging and plugging it in. Texts in the language they are opened in.
#include "link/port_info.h"
#include "diagnostics/line_check.h"
#include "diagnostics/support_bundle.h"

#include <QDialog>

#include <atomic>
#include <functional>
#include <vector>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QThread;

namespace kelvane::shell {

// Lists every file of the bundle with its size; Save asks for the file
// (chooseFile: a file dialog unless a test answers) and writes it.
class SupportBundleDialog : public QDialog {
    Q_OBJECT
public:
    SupportBundleDialog(const diagnostics::BundleRequest& request, int language, std::function<QString()> chooseFile,
                        QWidget* parent = nullptr);
    const std::vector<diagnostics::BundleEntry>& entries() const { return entries_; }
    // Writes the bundle; the result line is shown under the list.
    bool saveTo(const QString& path);

private:
    std::vector<diagnostics::BundleEntry> entries_;
    int language_;
    std::function<QString()> chooseFile_;
    QLabel* result_;
};

// Runs the line test on its own thread as soon as it is shown and lists
// what it finds; closing it stops the test between two steps.
class LineTestDialog : public QDialog {
    Q_OBJECT
public:
    LineTestDialog(const std::string& portName, int language, QWidget* parent = nullptr);
    ~LineTestDialog() override;
    void start();
    bool finished() const { return done_; }
    QString reportText() const;

signals:
    void testFinished();

private:
    void showCheck(const diagnostics::LineCheck& check);

    std::string portName_;
    int language_;
    QPlainTextEdit* report_;
    QThread* thread_ = nullptr;
    std::atomic<bool> cancel_{false};
    bool done_ = false;
};

// Unplug, Next, plug in, Next: the port that appeared is chosenPort() and the
// dialog is accepted. listPorts: the system's port list (a test gives its own).
class FindAdapterDialog : public QDialog {
    Q_OBJECT
public:
    FindAdapterDialog(int language, std::function<std::vector<link::PortInfo>()> listPorts, QWidget* parent = nullptr);
    void next();  // what the Next button does
    const std::string& chosenPort() const { return chosen_; }
    QString stepText() const;

private:
    int language_;
    std::function<std::vector<link::PortInfo>()> listPorts_;
    std::vector<link::PortInfo> before_;
    bool unplugged_ = false;
    std::string chosen_;
    QLabel* step_;
};

}  // namespace kelvane::shell
