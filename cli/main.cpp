// kvtool: the door-entry power supply's configuration and firmware from the
// command line, for service laptops and scripts. Qt Core and SerialPort only.
#include "link/net_port.h"
#include "cli/arguments.h"
#include "texts/language_table.h"
#include "cli/exit_codes.h"
#include "cli/tool_context.h"
#include "cli/interrupt.h"
#include "cli/terminal.h"

#include "files/private_file.h"
#include "registry/building_register.h"
#include "registry/key_store.h"
#include "diagnostics/diagnostics.h"
#include "texts/file_texts.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <iostream>
#include <memory>

using namespace kelvane::cli;

namespace {

// Qt's own diagnostics (a missing runtime folder, font fallbacks) are not the
// tool's results or errors; with KVTOOL_QT_DEBUG set they pass through.
void quietQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (qEnvironmentVariableIsSet("KVTOOL_QT_DEBUG") || type == QtFatalMsg)
        std::cerr << qPrintable(qFormatLogMessage(type, context, text)) << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(quietQtMessages);
    useUtf8Console();
    const std::vector<std::string> args = utf8Arguments(argc, argv);
    const ParseResult parsed = parseArguments(args);
    const Invocation& inv = parsed.invocation;
    // A command that needs fonts and a paint device gets them without a
    // display from the offscreen platform.
    std::unique_ptr<QCoreApplication> app;
    if (parsed.error.empty() && inv.command && inv.command->needs == Needs::Display) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    // Before any thread starts, Ctrl-C's watcher too (see loadDriver).
    kelvane::registry::Register::loadDriver();
    interrupt::install();
    kelvane::diagnostics::installProgramLog("kvtool");

    const int language = inv.has("--lang") ? kelvane::texts::languageByCode(inv.value("--lang")) : environmentLanguage();
    Tool tool{inv, language, isTerminal(2) && !inv.has("--quiet")};
    if (!parsed.error.empty()) {
        tool.error("", format(tool.text(kelvane::texts::ToolText::UsageError), parsed.error));
        return kUsage;
    }
    if (inv.has("--help")) {
        std::cout << (inv.command ? commandHelp(*inv.command) : toolHelp());
        return kDone;
    }
    if (inv.has("--version")) {
        std::cout << "kvtool " << KVTOOL_VERSION << '\n';
        return kDone;
    }
    // Every line session leaves a masked trace in the traces folder, and
    // with --trace one as it passed in the file named there (all sessions of
    // this command).
    kelvane::diagnostics::Tracing tracing{"kvtool", KVTOOL_VERSION, true, nullptr};
    if (inv.has("--trace")) {
        tracing.file = std::make_shared<kelvane::PrivateFile>();
        if (auto fault = kelvane::WriteFault::None; !tracing.file->open(inv.value("--trace"), false, &fault)) {
            tool.error(inv.value("--trace"), kelvane::texts::writeFaultText(fault, tool.language));
            return kFileError;
        }
    }
    kelvane::diagnostics::setTracing(tracing);
    if (inv.has("--key-file")) kelvane::registry::setKeyFile(inv.value("--key-file"));
    if (inv.has("--technician")) kelvane::registry::setTechnicianForRun(inv.value("--technician"));
    if (inv.has("--ca-file")) kelvane::link::setGatewayCaFile(inv.value("--ca-file"));
    if (inv.has("--port")) tool.warnIfUnencrypted(inv.value("--port"));
    return inv.command->run(tool);
}
