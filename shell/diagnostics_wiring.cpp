#include "shell/diagnostics_wiring.h"

#include "shell/diagnostics_dialogs.h"
#include "shell/form_wiring.h"
#include "shell/link_controller.h"
#include "shell/main_window.h"
#include "shell/port_dialog.h"
#include "shell/prompts.h"
#include "session/system_ports.h"
#include "texts/diagnostic_texts.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>

namespace kelvane::shell {

namespace {

using texts::DiagnosticText;

QString text(DiagnosticText t, int language) { return QString::fromUtf8(texts::diagnosticText(t, language)); }

void applyLanguage(MainWindow& form, QMenu* tools, int language) {
    tools->setTitle(text(DiagnosticText::ToolsMenu, language));
    const std::pair<const char*, DiagnosticText> captions[] = {{"LINETEST", DiagnosticText::LineTestEntry},
                                                               {"FINDADAPTER", DiagnosticText::FindAdapterEntry},
                                                               {"SUPPORTBUNDLE", DiagnosticText::SupportBundleEntry}};
    for (const auto& [name, caption] : captions)
        if (auto* a = form.findChild<QAction*>(QString::fromLatin1(name))) a->setText(text(caption, language));
}

void saveSupportBundle(MainWindow& form) {
    const int language = form.CurrentLanguage();
    diagnostics::BundleRequest request{"KelvaneMini", KELVANE_VERSION, form.document().working,
                                       form.description().toStdString()};
    auto chooseFile = [&form, language] {
        auto* dialog = form.findChild<QFileDialog*>(QStringLiteral("BundleSaveDialog"));
        if (!dialog) {
            dialog = new QFileDialog(&form);
            dialog->setObjectName(QStringLiteral("BundleSaveDialog"));
            dialog->setAcceptMode(QFileDialog::AcceptSave);
            dialog->setFileMode(QFileDialog::AnyFile);
            dialog->setDefaultSuffix(QStringLiteral("zip"));
            dialog->selectFile(QStringLiteral("kelvane-support.zip"));
        }
        dialog->setNameFilter(text(DiagnosticText::BundleFilter, language));
        return form.prompts().chooseFile(dialog);
    };
    SupportBundleDialog dialog(request, language, chooseFile, &form);
    form.prompts().runDialog(&dialog);
}

void testLine(MainWindow& form, FormWiring& wiring) {
    LineTestDialog dialog(wiring.controller().portName(), form.CurrentLanguage(), &form);
    dialog.start();
    form.prompts().runDialog(&dialog);
}

void findAdapter(MainWindow& form, FormWiring& wiring) {
    FindAdapterDialog dialog(form.CurrentLanguage(), session::systemPorts, &form);
    if (form.prompts().runDialog(&dialog) != QDialog::Accepted || dialog.chosenPort().empty()) return;
    const QString port = QString::fromStdString(dialog.chosenPort());
    wiring.portDialog().portCombo_->setEditText(port);
    wiring.controller().choosePort(port);
}

}  // namespace

void wireDiagnostics(MainWindow& form, FormWiring& wiring) {
    QMenuBar* bar = form.menuBar();
    auto* tools = new QMenu(bar);
    tools->setObjectName(QStringLiteral("ToolsMenu"));
    QMenu* lang = form.findChild<QMenu*>(QStringLiteral("Polski1"));
    bar->insertMenu(lang ? lang->menuAction() : nullptr, tools);
    auto add = [&form](QMenu* menu, QAction* before, const char* name, auto handler) {
        auto* a = new QAction(&form);
        a->setObjectName(QString::fromLatin1(name));
        QObject::connect(a, &QAction::triggered, &form, handler);
        menu->insertAction(before, a);
    };
    add(tools, nullptr, "LINETEST", [&form, &wiring] { testLine(form, wiring); });
    add(tools, nullptr, "FINDADAPTER", [&form, &wiring] { findAdapter(form, wiring); });
    // All three diagnostics in one place, where the manual looks for them.
    add(tools, nullptr, "SUPPORTBUNDLE", [&form] { saveSupportBundle(form); });
    form.hooks().languageApplied = [&form, tools](int language) { applyLanguage(form, tools, language); };
    applyLanguage(form, tools, form.CurrentLanguage());
}

}  // namespace kelvane::shell
