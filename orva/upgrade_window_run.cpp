// What Orva_Upgrade's window shows of a run: the checklist of the job's
// steps, the status line and progress bar as the run reports them, the
// controller it met, and the job's outcome with the change list.
#include "orva/upgrade_window.h"

#include "orva/job_texts.h"
#include "texts/change_text.h"
#include "texts/job_text.h"
#include "texts/language_table.h"
#include "texts/link_messages.h"
#include "texts/upgrade_texts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace kelvane::orva {

namespace {

QString utf8(const char* text) { return QString::fromUtf8(text); }

// The building's name the register keeps for the controller; empty when it
// keeps none (or there is no register).
QString buildingName(int id, int serial) {
    namespace registry = kelvane::registry;
    if (!registry::Register::available()) return {};
    registry::Register reg;
    if (!reg.open(registry::Register::defaultPath())) return {};
    const auto controller = reg.controller(registry::ControllerKey{id, serial});
    return controller ? QString::fromStdString(controller->name).trimmed() : QString();
}

}  // namespace

QString UpgradeWindow::changeText(const kelvane::Image& before, const kelvane::Image& after) {
    using namespace kelvane::texts;
    return QString::fromStdString(changeListText(describeChanges(kelvane::listChanges(before, after), kPolish)));
}

void UpgradeWindow::resetChecklist() {
    steps_ = {};
    identity_.clear();
    building_.clear();
    firmwareBefore_ = -1;
    showChecklist();
}

void UpgradeWindow::showChecklist() {
    using jobs::JobStep;
    using jobs::StepState;
    QStringList lines{identity_};
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        const StepLine& l = steps_[i];
        const auto step = static_cast<JobStep>(i);
        if (step == JobStep::Restore && !l.shown) continue;
        QString line = QString::fromStdString(kelvane::texts::stepName(step, kelvane::texts::kPolish));
        if (l.shown) {
            const auto state = static_cast<StepState>(l.state);
            if (state == StepState::Running && l.percent >= 0) {
                line += QStringLiteral(" %1 %").arg(l.percent);
            } else {
                const QString word =
                    QString::fromStdString(kelvane::texts::stepStateWord(step, state, kelvane::texts::kPolish));
                line += (state == StepState::Skipped ? QStringLiteral(": ") : QStringLiteral(" ")) + word;
            }
            if (!l.note.isEmpty()) line += QLatin1Char(' ') + l.note;
        }
        lines << line;
    }
    checklist_->setText(lines.join(QLatin1Char('\n')));
}

void UpgradeWindow::onStep(int run, int step, int state) {
    if (run != activeRunId_ || step < 0 || step >= static_cast<int>(steps_.size())) return;
    StepLine& line = steps_[static_cast<std::size_t>(step)];
    line.shown = true;
    line.state = state;
    line.percent = -1;
    // A transfer's progress fills the bar as the flash's does; it starts empty.
    const auto started = static_cast<jobs::JobStep>(step);
    if (state == static_cast<int>(jobs::StepState::Running) &&
        (started == jobs::JobStep::Backup || started == jobs::JobStep::Verify || started == jobs::JobStep::Restore))
        progressBar_->setValue(progressBar_->minimum());
    showChecklist();
}

void UpgradeWindow::onStepProgress(int run, int step, int position, int high) {
    if (run != activeRunId_ || step < 0 || step >= static_cast<int>(steps_.size()) || high <= 0) return;
    StepLine& line = steps_[static_cast<std::size_t>(step)];
    line.shown = true;
    line.percent = position * 100 / high;
    progressBar_->setRange(0, high);
    progressBar_->setValue(position);
    showChecklist();
}

void UpgradeWindow::onIdentified(int run, int id, int serial, int firmware, bool after) {
    if (run != activeRunId_) return;
    if (!after || firmwareBefore_ < 0) {
        if (!after) firmwareBefore_ = firmware;
        building_ = buildingName(id, serial);
        if (!after && !building_.isEmpty()) changes_->setPlainText(utf8(texts::kBuilding) + building_);
    }
    // Both versions once the controller is back, so that a smaller number
    // does not read as a step back.
    const int before = firmwareBefore_ >= 0 ? firmwareBefore_ : firmware;
    // On a line of their own once both are known: the checklist is narrow.
    identity_ =
        QStringLiteral("ID: %1 Ser: %2").arg(id).arg(serial) +
        (after && firmware != before ? QStringLiteral("\n") : QStringLiteral(" ")) +
        QString::fromStdString(kelvane::texts::firmwareVersions(before, after ? firmware : -1, kelvane::texts::kPolish));
    showChecklist();
}

void UpgradeWindow::showOutcome(const jobs::JobResult& out, bool restore) {
    using jobs::JobEnd;
    using jobs::JobStep;
    constexpr int pl = kelvane::texts::kPolish;
    lastOutcome_ = out;
    StepLine& verify = steps_[static_cast<std::size_t>(restore ? JobStep::Restore : JobStep::Verify)];
    QStringList box;
    if (!building_.isEmpty()) box << utf8(texts::kBuilding) + building_;
    const char* status = nullptr;
    switch (out.end) {
    case JobEnd::Done:
        if (out.now) {
            verify.note = utf8(texts::kSame);
            box << utf8(restore ? texts::kConfigurationRestored : texts::kConfigurationSame);
        }
        break;
    case JobEnd::Changed:
        verify.note = utf8(texts::kChanged) + QString::number(out.changedBlocks.size());
        box << utf8(texts::kConfigurationChanged) << changeText(*out.backup, *out.now);
        break;
    case JobEnd::NoController: status = texts::kNoController; break;
    case JobEnd::LineBusy: status = texts::kLineBusy; break;
    case JobEnd::BackupFailed: status = texts::kBackupFailed; break;
    case JobEnd::NotBack: status = texts::kNotBack; break;
    case JobEnd::VerifyFailed: status = texts::kVerifyFailed; break;
    case JobEnd::RestoreFailed: status = texts::kRestoreFailed; break;
    case JobEnd::PortError: status = kelvane::texts::upgrade::kPortBusy; break;
    case JobEnd::FlashFailed:
    case JobEnd::Stopped: break;  // the bootloader's own message stays
    }
    // The failed step with its cause, a gateway's reason when its line ended
    // (in the status line too), then what to do next.
    if (const auto failed = out.failedStep(); failed && out.end != JobEnd::Stopped) {
        const QString line = QString::fromStdString(kelvane::texts::stepLine(*failed, out.step(*failed), pl));
        const QString why = QString::fromStdString(kelvane::texts::lineFaultText(out.step(*failed).fault, pl));
        box << line;
        if (!why.isEmpty()) box << why;
        if (status || !why.isEmpty()) {
            // The bootloader's own message stays, followed by the gateway's reason.
            const QString shown = status ? utf8(status) : statusLine_->text();
            statusLine_->setText(why.isEmpty() || shown.isEmpty() ? shown + why : shown + QStringLiteral(". ") + why);
            statusLine_->setToolTip(why.isEmpty() ? line : line + QLatin1Char('\n') + why);
        }
    } else if (status) {
        statusLine_->setText(utf8(status));
        statusLine_->setToolTip(QString());
    }
    if (out.end != JobEnd::Stopped) {
        const std::string next = kelvane::texts::nextStepText(out.next(), pl);
        if (!next.empty()) box << QString::fromStdString(next);
    }
    if (!restore && !out.backupPath.empty())
        box << utf8(texts::kBackupKept) + QDir::toNativeSeparators(QString::fromStdString(out.backupPath));
    changes_->setPlainText(box.join(QLatin1Char('\n')));
    restoreButton_->setEnabled(out.end == JobEnd::Changed && out.backup && out.now);
    showChecklist();
    // Silent after a flash that stopped halfway: it may sit in its bootloader.
    if (out.end == JobEnd::NoController) QTimer::singleShot(0, this, &UpgradeWindow::offerFlashAgain);
}

void UpgradeWindow::showChangeList() {
    QDialog dialog(this);
    dialog.setWindowTitle(utf8(texts::kChangeListTitle));
    auto* text = new QPlainTextEdit(changes_->toPlainText(), &dialog);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    buttons->button(QDialogButtonBox::Close)->setText(utf8(texts::kClose));
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(text);
    layout->addWidget(buttons);
    dialog.resize(640, 420);
    dialog.exec();
}

void UpgradeWindow::onStatusCleared(int run) {
    if (run != activeRunId_) return;
    statusLine_->clear();
    statusLine_->setToolTip(QString());
}

void UpgradeWindow::onStatusDetail(int run, const QString& text) {
    if (run == activeRunId_) statusLine_->setToolTip(text);
}

void UpgradeWindow::onStatusAppended(int run, const QString& text) {
    if (run == activeRunId_) statusLine_->setText(statusLine_->text() + text);
}

void UpgradeWindow::onProgressRange(int run, int low, int high) {
    if (run == activeRunId_) progressBar_->setRange(low, high);
}

void UpgradeWindow::onProgress(int run, int position) {
    if (run != activeRunId_) return;
    progressBar_->setValue(position);
    // "Programowanie 42 %" beside the bar's blocks.
    StepLine& flash = steps_[static_cast<std::size_t>(jobs::JobStep::Flash)];
    const int span = progressBar_->maximum() - progressBar_->minimum();
    if (flash.state != static_cast<int>(jobs::StepState::Running) || span <= 0) return;
    const int percent = (position - progressBar_->minimum()) * 100 / span;
    if (percent == flash.percent) return;
    flash.percent = percent;
    showChecklist();
}

void UpgradeWindow::onRunEnded(int run) {
    if (run != activeRunId_) return;
    button_->setText(QStringLiteral("Start"));
    if (run_) {
        run_->join();
        const bool restore = run_->request().kind == RunRequest::Kind::Restore;
        const jobs::FlashReport report = run_->report();
        const QString notRecorded = QString::fromStdString(report.notRecorded);
        run_.reset();
        showOutcome(report.result, restore);
        if (!notRecorded.isEmpty()) changes_->appendPlainText(utf8(texts::kNotRecorded) + notRecorded);
    }
}

}  // namespace kelvane::orva
