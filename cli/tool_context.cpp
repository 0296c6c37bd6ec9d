#include "cli/tool_context.h"
#include "texts/language_table.h"

#include "cli/exit_codes.h"
#include "link/messages.h"
#include "link/net_port.h"
#include "link/port_info.h"
#include "texts/link_messages.h"
#include "texts/output_text.h"
#include "diagnostics/diagnostics.h"
#include "files/program_log.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace kelvane::cli {

std::string format(const std::string& fmt, int a, int b, int c) {
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt.c_str(), a, b, c);
    return buf;
}

std::string format(const std::string& fmt, const std::string& s) {
    std::string out;
    const auto at = fmt.find("%s");
    if (at == std::string::npos) return fmt;
    return fmt.substr(0, at) + s + fmt.substr(at + 2);
}

std::string Tool::text(kelvane::texts::ToolText t) const { return kelvane::texts::toolText(t, language); }
std::string Tool::text(kelvane::texts::Message m) const { return kelvane::texts::messageText(m, language); }

// Paths, port names and descriptions may hold any bytes: their control
// characters are shown, never sent to the terminal as they are.
void Tool::result(const std::string& line) const { std::cout << kelvane::texts::visibleText(line, true) << std::endl; }

// A connection string's password is never shown or logged.
void Tool::error(const std::string& about, const std::string& line) const {
    const std::string text = kelvane::maskConnectionSecrets((about.empty() ? "" : about + ": ") + line);
    std::cerr << "kvtool: " << kelvane::texts::visibleText(text, false) << std::endl;
    kelvane::diagnostics::logProblem("error", text);
}

int Tool::portOpenError(const std::string& port, link::OpenFailure failure) const {
    std::string line = text(kelvane::texts::Message::PortError);
    for (kelvane::link::Message m : kelvane::link::openFailureMessages(failure, link::prefersUsbPort()))
        line += std::string(" ") + kelvane::texts::messageText(m, language);
    error(port, line);
    return failure == link::OpenFailure::GatewayRefused ? kNoAnswer : kPortError;
}

void Tool::lineFaultError(const std::string& port, link::LineFault fault) const {
    const std::string why = kelvane::texts::lineFaultText(fault, language);
    if (!why.empty()) error(port, why);
}

void Tool::warnIfUnencrypted(const std::string& port) const {
    static bool warned = false;
    if (warned || !link::crossesNetworkUnencrypted(port)) return;
    warned = true;
    error("", format(text(kelvane::texts::Message::Unencrypted), port));
}

int environmentLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v && *v) {
            const int language = kelvane::texts::languageByCode(std::string(v).substr(0, 2));
            return language < 0 ? kelvane::texts::kEnglish : language;
        }
    }
    return kelvane::texts::kEnglish;
}

}  // namespace kelvane::cli
