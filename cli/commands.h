#pragma once
// The commands; each returns the tool's exit code.
#include "cli/tool_context.h"

#include <optional>
#include <string>

namespace kelvane::cli {

int portsCommand(const Tool& tool);
int probeCommand(const Tool& tool);
int downloadCommand(const Tool& tool);
int uploadCommand(const Tool& tool);
int checkCommand(const Tool& tool);
int showCommand(const Tool& tool);
int diffCommand(const Tool& tool);
int flashCommand(const Tool& tool);
int cardsCommand(const Tool& tool);
int exportCsvCommand(const Tool& tool);
int importCsvCommand(const Tool& tool);
int lintCommand(const Tool& tool);
int mergeCommand(const Tool& tool);
int lineTestCommand(const Tool& tool);
int supportBundleCommand(const Tool& tool);

// The port named by --port, or nothing after the usage error that lists the
// ports found.
std::optional<std::string> requirePort(const Tool& tool);
int registerCommand(const Tool& tool);
int flatCommand(const Tool& tool);
int keyCommand(const Tool& tool);
int reportCommand(const Tool& tool);

// The name of the built-in simulated controller / bootloader for --port.
inline constexpr const char* kSimPort = "sim";

}  // namespace kelvane::cli
