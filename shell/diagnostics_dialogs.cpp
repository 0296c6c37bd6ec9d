#include "shell/diagnostics_dialogs.h"

#include "link/port.h"
#include "link/port_change.h"
#include "session/device_port.h"
#include "texts/diagnostic_texts.h"
#include "texts/language_table.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

namespace kelvane::shell {

namespace {

using texts::DiagnosticText;

QString text(DiagnosticText t, int language) { return QString::fromUtf8(texts::diagnosticText(t, language)); }

QString filled(DiagnosticText t, int language, const QString& value) {
    QString s = text(t, language);
    return s.replace(QStringLiteral("%s"), value);
}

}  // namespace

SupportBundleDialog::SupportBundleDialog(const diagnostics::BundleRequest& request, int language,
                                         std::function<QString()> chooseFile, QWidget* parent)
    : QDialog(parent),
      entries_(diagnostics::supportBundleEntries(request)),
      language_(language),
      chooseFile_(std::move(chooseFile)) {
    setObjectName(QStringLiteral("SupportBundleDialog"));
    setWindowTitle(text(DiagnosticText::SupportBundleEntry, language).remove(QChar(0x2026)));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(text(DiagnosticText::BundleContents, language), this));
    auto* list = new QListWidget(this);
    list->setObjectName(QStringLiteral("BundleEntries"));
    for (const diagnostics::BundleEntry& e : entries_)
        list->addItem(QStringLiteral("%1  (%2 B)").arg(QString::fromStdString(e.name)).arg(e.content.size()));
    layout->addWidget(list);
    result_ = new QLabel(this);
    result_->setObjectName(QStringLiteral("BundleResult"));
    result_->setWordWrap(true);
    layout->addWidget(result_);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* save = buttons->addButton(text(DiagnosticText::Save, language), QDialogButtonBox::AcceptRole);
    save->setObjectName(QStringLiteral("BundleSave"));
    buttons->addButton(text(DiagnosticText::Close, language), QDialogButtonBox::RejectRole);
    connect(save, &QPushButton::clicked, this, [this] {
        QString path = chooseFile_ ? chooseFile_() : QString();
        if (path.isEmpty()) return;
        if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".zip");
        saveTo(path);
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(520, 360);
}

bool SupportBundleDialog::saveTo(const QString& path) {
    const std::string why = diagnostics::writeSupportBundle(QFile::encodeName(path).toStdString(), entries_);
    result_->setText(why.empty() ? filled(DiagnosticText::BundleSaved, language_, path)
                                 : filled(DiagnosticText::BundleNotSaved, language_, QString::fromStdString(why)));
    return why.empty();
}

LineTestDialog::LineTestDialog(const std::string& portName, int language, QWidget* parent)
    : QDialog(parent), portName_(portName), language_(language) {
    setObjectName(QStringLiteral("LineTestDialog"));
    setWindowTitle(text(DiagnosticText::LineTestEntry, language));
    auto* layout = new QVBoxLayout(this);
    report_ = new QPlainTextEdit(this);
    report_->setObjectName(QStringLiteral("LineTestReport"));
    report_->setReadOnly(true);
    report_->setPlainText(filled(DiagnosticText::LineTestRunning, language, QString::fromStdString(portName)));
    layout->addWidget(report_);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(text(DiagnosticText::Close, language), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(560, 260);
}

LineTestDialog::~LineTestDialog() {
    // The test stops between two steps (a second or two at most).
    cancel_ = true;
    if (thread_) thread_->wait();
}

void LineTestDialog::start() {
    if (thread_) return;
    // A QThread: the serial port needs one, and it is opened, used and
    // closed on it.
    thread_ = QThread::create([this] {
        const diagnostics::LineCheck check = diagnostics::checkLine(portName_, &cancel_);
        QMetaObject::invokeMethod(
            this, [this, check] { showCheck(check); }, Qt::QueuedConnection);
    });
    thread_->setParent(this);
    thread_->start();
}

void LineTestDialog::showCheck(const diagnostics::LineCheck& check) {
    // The verdict and its figures first, then the adapter behind the port.
    QStringList lines;
    if (!check.opened) {
        lines << QString::fromUtf8(texts::messageText(texts::Message::PortError, language_));
    } else {
        for (const std::string& line : texts::lineTestReportLines(check.report, language_))
            lines << QString::fromStdString(line);
    }
    // The built-in simulator has no adapter to name.
    if (portName_ != link::PortName(session::kSimulatorPortName))
        lines << QString::fromStdString(
            texts::adapterLine(portName_, check.adapter ? &*check.adapter : nullptr, check.details.driver, language_));
    if (!check.details.latencyTimer.empty())
        lines << filled(DiagnosticText::LatencyTimer, language_, QString::fromStdString(check.details.latencyTimer));
#ifdef __linux__
    if (check.opened && check.adapter)
        lines << text(check.lowLatency ? DiagnosticText::LowLatencyOn : DiagnosticText::LowLatencyOff, language_);
#endif
    report_->setPlainText(lines.join(QLatin1Char('\n')));
    done_ = true;
    emit testFinished();
}

QString LineTestDialog::reportText() const { return report_->toPlainText(); }

FindAdapterDialog::FindAdapterDialog(int language, std::function<std::vector<link::PortInfo>()> listPorts, QWidget* parent)
    : QDialog(parent), language_(language), listPorts_(std::move(listPorts)) {
    setObjectName(QStringLiteral("FindAdapterDialog"));
    setWindowTitle(text(DiagnosticText::FindAdapterEntry, language));
    auto* layout = new QVBoxLayout(this);
    step_ = new QLabel(text(DiagnosticText::FindUnplug, language), this);
    step_->setObjectName(QStringLiteral("FindAdapterStep"));
    step_->setWordWrap(true);
    step_->setMinimumWidth(380);
    layout->addWidget(step_);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* next = buttons->addButton(text(DiagnosticText::Next, language), QDialogButtonBox::ActionRole);
    next->setObjectName(QStringLiteral("FindAdapterNext"));
    next->setDefault(true);
    buttons->addButton(text(DiagnosticText::Cancel, language), QDialogButtonBox::RejectRole);
    connect(next, &QPushButton::clicked, this, &FindAdapterDialog::next);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void FindAdapterDialog::next() {
    if (!unplugged_) {
        before_ = listPorts_();
        unplugged_ = true;
        step_->setText(text(DiagnosticText::FindPlugIn, language_));
        return;
    }
    const auto found = link::appearedPort(before_, listPorts_());
    if (!found) {
        step_->setText(text(DiagnosticText::FindNothing, language_) + QLatin1Char('\n') +
                       text(DiagnosticText::FindPlugIn, language_));
        return;
    }
    chosen_ = found->name;
    step_->setText(filled(DiagnosticText::FindFound, language_, QString::fromStdString(link::portEntryText(*found))));
    accept();
}

QString FindAdapterDialog::stepText() const { return step_->text(); }

}  // namespace kelvane::shell
