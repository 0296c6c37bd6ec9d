#pragma once
// What every command shares: the chosen language, the output streams, the
// progress switch, and how messages are printed.
#include "cli/arguments.h"
#include "link/open_failure.h"
#include "texts/language_table.h"

#include <string>

namespace kelvane::cli {

struct Tool {
    const Invocation& args;
    int language = kelvane::texts::kEnglish;
    bool progress = false;  // stderr is a terminal and no --quiet

    // A text of the language table in the tool's language, printf-filled.
    std::string text(kelvane::texts::ToolText t) const;
    std::string text(kelvane::texts::Message m) const;
    // One result line on stdout / one error line on stderr, prefixed with
    // what it concerns (a file or port) when `about` is not empty.
    void result(const std::string& line) const;
    void error(const std::string& about, const std::string& line) const;
    // The port-open error for `port`, with the cause as the windows name it
    // (no such port, held by another program, no permission and how to get it,
    // a gateway's reasons); the exit code: kNoAnswer for a gateway that did not
    // confirm the line settings, kPortError otherwise.
    int portOpenError(const std::string& port, link::OpenFailure failure) const;
    // Why a line that had opened ended, where it can tell (a gateway that
    // closed, stopped answering or refused a setting); nothing otherwise.
    void lineFaultError(const std::string& port, link::LineFault fault) const;
    // Once per run: that a gateway's port sends the codes unencrypted.
    void warnIfUnencrypted(const std::string& port) const;
};

std::string format(const std::string& fmt, int a, int b = 0, int c = 0);
std::string format(const std::string& fmt, const std::string& s);

// The language the environment asks for: Polish if LC_ALL, LC_MESSAGES or
// LANG (the first one set) starts with "pl", else English.
int environmentLanguage();

}  // namespace kelvane::cli
