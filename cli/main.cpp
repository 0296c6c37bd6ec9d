// kvtool: the door-entry power supply's configuration and firmware from the
// command line, for service laptops and scripts. Qt Core and SerialPort only.
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/interrupt.h"

#include <QCoreApplication>

#include <unistd.h>

#include <iostream>

using namespace kvtool;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    interrupt::install();
    std::vector<std::string> args(argv + 1, argv + argc);
    const ParseResult parsed = parseArguments(args);
    const Invocation& inv = parsed.invocation;

    const int language = inv.has("--lang") ? (inv.value("--lang") == "pl" ? kelvane::lang::kPolish
                                                                           : kelvane::lang::kEnglish)
                                           : environmentLanguage();
    Tool tool{inv, language, ::isatty(2) && !inv.has("--quiet")};
    if (!parsed.error.empty()) {
        tool.error("", format(tool.text(kelvane::lang::ToolText::UsageError), parsed.error));
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
    const std::string name = inv.command->name;
    if (name == "ports") return portsCommand(tool);
    if (name == "probe") return probeCommand(tool);
    if (name == "download") return downloadCommand(tool);
    if (name == "upload") return uploadCommand(tool);
    if (name == "check") return checkCommand(tool);
    if (name == "show") return showCommand(tool);
    if (name == "diff") return diffCommand(tool);
    if (name == "flash") return flashCommand(tool);
    tool.error(name, "not available in this build");
    return kUsage;
}
