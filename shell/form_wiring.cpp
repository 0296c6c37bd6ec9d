#include "shell/form_wiring.h"

#include "print/card_printer.h"
#include "shell/company_sync_runner.h"
#include "shell/company_wiring.h"
#include "shell/diagnostics_wiring.h"
#include "shell/flat_menu.h"
#include "shell/help_window.h"
#include "texts/file_texts.h"
#include "texts/language_table.h"
#include "shell/link_controller.h"
#include "shell/link_host.h"
#include "texts/link_messages.h"
#include "shell/main_window.h"
#include "shell/port_dialog.h"
#include "shell/key_dialog.h"
#include "shell/safety_net.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressBar>
#include <QTimer>

#include <chrono>

namespace kelvane::shell {

// The main window as the device link sees it.
class FormLinkHost : public shell::LinkHost {
public:
    explicit FormLinkHost(MainWindow& form) : form_(form) {}

    bool getData() override { return form_.GetData() == 1; }
    void displayData() override { form_.DisplayData(); }
    void setStatusText(const QString& text) override { form_.setStatusText(text); }
    void setProgressVisible(bool visible) override {
        if (visible) started_.start();
        form_.progressBar()->setVisible(visible);
    }
    void setProgressRange(int minimum, int maximum) override { form_.progressBar()->setRange(minimum, maximum); }
    void setProgressPosition(int position) override {
        // Blocks done of all and the time left at the pace so far, as kvtool shows them.
        QProgressBar* bar = form_.progressBar();
        bar->setValue(position);
        const int done = position - bar->minimum();
        const int total = bar->maximum() - bar->minimum();
        const QString left = done > 0 && started_.isValid()
                                 ? QString::number(qRound64(started_.elapsed() / 1000.0 * (total - done) / done))
                                 : QStringLiteral("?");
        bar->setFormat(
            form_.formatMessage(texts::Message::ProgressBlocks, {QString::number(done), QString::number(total), left}));
    }
    QString messageText(link::Message message) override {
        return QString::fromUtf8(texts::messageText(message, form_.CurrentLanguage()));
    }
    void showPortOpenError(const QString& text, const QString& detail) override { form_.showMessage(text, detail); }
    Document& document() override { return form_.document(); }
    bool startUpload() override {
        if (!safety_) return false;
        safety_->startUpload();
        return true;
    }
    void transferCompleted(bool upload) override {
        if (safety_) safety_->transferCompleted(upload);
        // The visit goes to the company register in the background, once the
        // transfer's own steps (an upload records its visit after) are done.
        if (company_) QTimer::singleShot(kSyncAfterTransfer, company_, [c = company_] { c->request(); });
    }
    void downloadFailed(link::DownloadResult result) override {
        if (safety_) safety_->downloadFailed(result);
    }
    void checkRead(const Image& controller) override {
        if (safety_) safety_->checkRead(controller);
    }

    SafetyNet* safety_ = nullptr;
    CompanySyncRunner* company_ = nullptr;
    static constexpr std::chrono::milliseconds kSyncAfterTransfer{1000};

private:
    MainWindow& form_;
    QElapsedTimer started_;
};

FormWiring::FormWiring(MainWindow& form)
    : QObject(&form),
      form_(form),
      dialog_(new shell::PortDialog(&form)),
      host_(std::make_unique<FormLinkHost>(form)),
      controller_(std::make_unique<shell::LinkController>(*host_, dialog_)),
      safety_(std::make_unique<SafetyNet>(form, *controller_)) {
    host_->safety_ = safety_.get();
    dialog_->setObjectName(QStringLiteral("OKRightDlg"));
    form.setWiring(this);
    installFlatMenus(form, {[this](const Image& flat) { print(flat); },
                            [this](const Image& flat, const QString& name) { savePdf(flat, name); }});
    auto& hooks = form.hooks();
    shell::LinkController* c = controller_.get();
    hooks.port = [c] { c->onChoosePort(); };
    hooks.download = [c] { c->onDownload(); };
    hooks.upload = [c] { c->onUpload(); };
    hooks.abort = [c] { c->cancelTransfer(); };
    hooks.print = [this] { print(form_.document().working); };
    hooks.preview = [this] { preview(); };
    // Like printing: the cards show the image as it was when the command was given.
    hooks.pdf = [this] { savePdf(form_.document().working, QString::fromLatin1(kCardJobName)); };
    hooks.help = [&form] { showHelp(&form); };
    SafetyNet* net = safety_.get();
    hooks.compare = [net] { net->compare(); };
    hooks.readBack = [net] { net->check(); };
    hooks.backups = [net] { net->showBackups(); };
    hooks.buildings = [net] { net->showRegister(); };
    hooks.dataKey = [net, &form] { ShowDataKey(form, [net] { net->forgetRegister(); }); };
    hooks.loaded = [net, &form] { net->fileLoaded(form.document().working); };
    hooks.saved = [net](const QString& path) { net->fileSaved(path); };
    connect(c, &shell::LinkController::transferRunningChanged, &form, &MainWindow::setTransferRunning);
}

FormWiring::~FormWiring() {
    // The hooks point at the controller: clear them before it goes.
    form_.hooks() = {};
    host_->safety_ = nullptr;
    controller_.reset();
    safety_.reset();
}

CardTexts FormWiring::cardTexts() const {
    const int language = form_.CurrentLanguage();
    const auto text = [language](texts::CardText t) { return std::string(texts::cardText(t, language)); };
    return {text(texts::CardText::FlatNumber),   text(texts::CardText::CallCode),
            text(texts::CardText::OpenCode),     text(texts::CardText::MainCallCode),
            text(texts::CardText::MainOpenCode), text(texts::CardText::Instruction1),
            text(texts::CardText::Instruction2), text(texts::CardText::Instruction3),
            text(texts::CardText::Instruction4), text(texts::CardText::Missing)};
}

void FormWiring::print(const Image& image) {
    if (!hasResidentCards(image)) {
        form_.showMessage(form_.messageText(texts::Message::NothingToPrint));
        return;
    }
    printResidentCards(&form_, image, cardTexts(), form_.cardText(), askPrinter_);
}

void FormWiring::preview() {
    previewResidentCards(&form_, form_.document().working, cardTexts(), form_.cardText(), runPreview_);
}

void FormWiring::savePdf(const Image& image, const QString& name) {
    // With no card to print nothing is asked.
    if (!hasResidentCards(image)) return;
    auto* dialog = form_.findChild<QFileDialog*>(QStringLiteral("PdfSaveDialog"));
    if (!dialog) {
        dialog = new QFileDialog(&form_);
        dialog->setObjectName(QStringLiteral("PdfSaveDialog"));
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setDefaultSuffix(QStringLiteral("pdf"));
    }
    dialog->selectFile(name + QStringLiteral(".pdf"));
    dialog->setWindowTitle(form_.action("SAVE_PDF")->text());
    dialog->setNameFilter(form_.messageText(texts::Message::PdfFileFilter));
    QString path = form_.prompts().chooseFile(dialog);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".pdf");
    WriteFault fault = WriteFault::None;
    if (!saveResidentCardsPdf(path, image, cardTexts(), form_.cardText(), &fault)) {
        form_.showMessage(QString::fromStdString(texts::writeFaultText(fault, form_.CurrentLanguage())));
        return;
    }
    const QString saved = QFileInfo(path).fileName();
    MainWindow* form = &form_;
    form_.setStatus([form, saved](int) { return form->formatMessage(texts::Message::CardsSaved, {saved}); });
}

void FormWiring::rememberPorts(link::PortMemory memory) {
    const auto present = [](const std::string& name) {
        // The simulator is always there; a typed path is there when it exists.
        const QString path = QString::fromStdString(name);
        return name == shell::kSimulatorPortName || (QDir::isAbsolutePath(path) && QFileInfo::exists(path));
    };
    const std::string start =
        link::startPort(memory.load ? memory.load() : std::string(), dialog_->ports(), link::prefersUsbPort(), present);
    if (!start.empty()) {
        controller_->setStartPort(QString::fromStdString(start));
        dialog_->portCombo_->setEditText(QString::fromStdString(start));
    }
    if (memory.store)
        connect(controller_.get(), &shell::LinkController::portOpened, this,
                [store = memory.store](const QString& text) { store(text.toStdString()); });
}

FormWiring* wireKelvaneMini(MainWindow& form) {
    auto* wiring = new FormWiring(form);
    CompanySyncRunner* company = WireCompanyRegister(form);
    wiring->host_->company_ = company;
    wiring->safetyNet().setCompanySync(company);
    form.hooks().technician = [&form] { AskTechnician(form); };
    form.hooks().companyServer = [&form, company] { AskCompanyServer(form, *company); };
    wireDiagnostics(form, *wiring);
    return wiring;
}

}  // namespace kelvane::shell
