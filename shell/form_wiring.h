#pragma once
// Connects the main window's menu to the device link (port choice, download,
// upload, cancel), the printing of the residents' cards and the help window.
#include "print/card_printer.h"
#include "link/port_info.h"

#include <QObject>

#include <memory>

namespace kelvane::shell {
class LinkController;
class PortDialog;
}  // namespace kelvane::shell

namespace kelvane::shell {

class MainWindow;
class FormLinkHost;
class SafetyNet;

// Lives as a child of the main window and goes first when the window is
// destroyed; its link controller then cuts off a running transfer.
class FormWiring : public QObject {
    Q_OBJECT
public:
    explicit FormWiring(MainWindow& form);
    ~FormWiring() override;

    shell::LinkController& controller() { return *controller_; }
    shell::PortDialog& portDialog() { return *dialog_; }
    SafetyNet& safetyNet() { return *safety_; }
    // Starts on the remembered port when it is there (else, on Linux, on the
    // first USB adapter; else on the initial port) and remembers every port
    // that opens from now on.
    void rememberPorts(link::PortMemory memory);
    // The printer question of onPrint (the print dialog unless a test
    // answers it).
    void setPrintDialog(PrintDialogFunction ask) { askPrinter_ = std::move(ask); }
    // How the print preview is shown (exec unless a test runs it).
    void setPreviewDialog(PreviewDialogFunction run) { runPreview_ = std::move(run); }

private:
    friend FormWiring* wireKelvaneMini(MainWindow& form);
    CardTexts cardTexts() const;
    void print(const Image& image);
    void preview();
    // `name`: the file name offered, without ".pdf".
    void savePdf(const Image& image, const QString& name);

    MainWindow& form_;
    shell::PortDialog* dialog_;  // OKRightDlg, owned by the main window
    std::unique_ptr<FormLinkHost> host_;
    std::unique_ptr<shell::LinkController> controller_;
    std::unique_ptr<SafetyNet> safety_;
    PrintDialogFunction askPrinter_ = askPrintDialog;
    PreviewDialogFunction runPreview_;
};

// Creates the port dialog and wires every menu hook of the window.
FormWiring* wireKelvaneMini(MainWindow& form);

}  // namespace kelvane::shell
