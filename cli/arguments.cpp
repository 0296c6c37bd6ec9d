#include "cli/arguments.h"
#include "texts/language_table.h"

#include "cli/exit_codes.h"
#include "cli/time_limits.h"
#include "link/net_line.h"

#include <sstream>

namespace kelvane::cli {

namespace {

const std::vector<OptionSpec> kCommon = {
    {"--help", false, "this help (also -h)"},
    {"--lang", true, "pl|en: language of the messages (default: pl when the environment is Polish, else en)"},
    {"--quiet", false, "no progress line"},
    {"--trace", true, "FILE: write the trace of every line session (each byte sent and received) to FILE"},
    {"--key-file", true,
     "FILE: the data key in FILE (64 hexadecimal digits, the user's own, 0600; made when missing) instead of\n"
     "                     the keychain (also $KELVANE_KEY_FILE)"},
    {"--ca-file", true,
     "FILE: the CA certificates (PEM) an rfc2217+tls:// gateway's certificate must chain to (default:\n"
     "                     $KELVANE_GATEWAY_CA, else the system's); its name or address is checked too"},
    {"--technician", true,
     "NAME: the technician the register's visits name (default: the programs' setting, else the system user)"},
};

}  // namespace

const CommandSpec* findCommand(const std::string& name) {
    for (const auto& c : commands())
        if (name == c.name) return &c;
    return nullptr;
}

namespace {

const OptionSpec* findOption(const CommandSpec* command, const std::string& name) {
    for (const auto& o : kCommon)
        if (name == o.name) return &o;
    if (command)
        for (const auto& o : command->options)
            if (name == o.name) return &o;
    if (!command && name == "--version") {
        static const OptionSpec version{"--version", false, ""};
        return &version;
    }
    return nullptr;
}

}  // namespace

ParseResult parseArguments(const std::vector<std::string>& args) {
    ParseResult r;
    Invocation& inv = r.invocation;
    bool optionsEnded = false;
    std::vector<std::string> words;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!inv.command && words.empty() && !optionsEnded) {
                inv.command = findCommand(arg);
                if (!inv.command) {
                    r.error = "unknown command " + arg;
                    return r;
                }
                continue;
            }
            words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-o") arg = "--output";
        if (arg == "-h") arg = "--help";
        std::string value;
        bool inlineValue = false;
        const auto eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }
        const OptionSpec* spec = findOption(inv.command, arg);
        if (!spec) {
            r.error = "unknown option " + arg + (inv.command ? std::string(" for ") + inv.command->name : "");
            return r;
        }
        if (spec->takesValue && !inlineValue) {
            if (i + 1 >= args.size()) {
                r.error = arg + " needs a value";
                return r;
            }
            value = args[++i];
        } else if (!spec->takesValue && inlineValue) {
            r.error = arg + " takes no value";
            return r;
        }
        if (inv.options.count(arg)) {
            r.error = arg + " given twice";
            return r;
        }
        inv.options[arg] = value;
    }
    inv.positional = words;
    if (inv.has("--version") && inv.command) {
        r.error = std::string("--version takes no command, not ") + inv.command->name;
        return r;
    }
    if (inv.has("--help") || inv.has("--version")) return r;
    if (!inv.command) {
        r.error = "no command";
        return r;
    }
    const int n = static_cast<int>(words.size());
    if (n < inv.command->minPositional) {
        r.error = std::string(inv.command->name) + " needs " + inv.command->synopsis;
    } else if (n > inv.command->maxPositional) {
        r.error = "unexpected argument " + words[static_cast<std::size_t>(inv.command->maxPositional)];
    } else {
        for (const auto& o : inv.command->options)
            if (o.required && !inv.has(o.name)) r.error = std::string(inv.command->name) + " needs " + o.name;
    }
    if (r.error.empty() && inv.has("--lang") && kelvane::texts::languageByCode(inv.value("--lang")) < 0)
        r.error = "--lang takes pl or en";
    if (r.error.empty() && inv.has("--base") && inv.has("--full")) r.error = "--base and --full exclude each other";
    // Nothing read before the flash, nothing to compare the configuration with:
    // the check asked for would pass without having been made.
    if (r.error.empty() && inv.has("--no-backup") && (inv.has("--verify-config") || inv.has("--restore-config")))
        r.error = std::string(inv.has("--verify-config") ? "--verify-config" : "--restore-config") +
                  " needs the backup that --no-backup leaves out";
    if (r.error.empty() && inv.has("--prefer")) {
        if (inv.value("--prefer") != "file" && inv.value("--prefer") != "controller")
            r.error = "--prefer takes file or controller";
        else if (inv.has("--overwrite"))
            r.error = "--prefer and --overwrite exclude each other";
        else if (inv.has("--full"))
            r.error = "--prefer and --full exclude each other";
    }
    return r;
}

namespace {

void listOptions(std::ostringstream& out, const std::vector<OptionSpec>& options) {
    for (const auto& o : options) {
        std::string name = o.name;
        if (o.takesValue) name += " VALUE";
        out << "  " << name;
        for (std::size_t pad = name.size(); pad < 18; ++pad) out << ' ';
        out << ' ' << o.help << '\n';
    }
}

const char* const kExitCodes =
    "Exit codes:\n"
    "  0    done\n"
    "  1    usage error, or the upload question could not be asked / was declined\n"
    "  2    file missing, unreadable, refused or not written\n"
    "  3    port cannot be opened\n"
    "  4    no answer or a time-out\n"
    "  5    the device refused (wrong device type, programming error, block check)\n"
    "  6    differences found (check, diff, register diff, upload --check, flash --verify-config), warnings\n"
    "       (lint), conflicts no --prefer decided or merged rows that do not fit (merge, upload --base)\n"
    "  7    upload refused: the file's image came from another controller, or that cannot be told\n"
    "       (no register, no data key, no answer, an image it does not know) (--other-controller sends\n"
    "       anyway)\n"
    "  8    flat: the action was refused (no such flat, key or code; nothing written); cards --flat:\n"
    "       no such flat\n"
    "  130  interrupted (Ctrl-C; a second Ctrl-C ends at once)\n";

std::string seconds(int ms) { return std::to_string((ms + 500) / 1000) + " s"; }

// Every wait that ends a command, from the constants that bound them.
std::string timeLimits() {
    namespace link = kelvane::link;
    std::ostringstream out;
    out << "Time limits (each ends the command with exit 4):\n"
        << "  probe: three reads of 0.9 s for the answer\n"
        << "  controller still sending (the rest of an earlier download): " << seconds(link::kQuietLineLimitMs)
        << " before any command\n"
        << "  download: " << seconds(link::kFrameTimeoutMs) << " without a frame, " << seconds(link::kDownloadLimitMs)
        << " in all\n"
        << "  upload: " << seconds(link::kAckTimeoutMs) << " for each acknowledgement; after one that did not come,\n"
        << "    the end frame still goes out and its acknowledgement is awaited " << seconds(link::kCancelledAckMs) << "\n"
        << "  any download or upload: " << seconds(kTransferLimitMs) << " in all\n"
        << "  flash: " << seconds(kFlashSilenceMs)
        << " without a step of the bootloader; the controller coming back, 30 s\n"
        << "  a gateway (rfc2217://, socket://): " << seconds(link::NetLine::kConnectTimeoutMs)
        << " to connect (then exit 3); each setting's confirmation " << seconds(link::NetLine::kConfirmTimeoutMs)
        << " plus the round trip;\n"
        << "    every read's allowance grows by the round trip measured at connect (at most "
        << seconds(link::NetLine::kMaxRoundTripMs) << ")\n";
    return out.str();
}

}  // namespace

std::string toolHelp() {
    std::ostringstream out;
    out << "Usage: kvtool COMMAND [OPTIONS]\n"
           "Configures the door-entry power supply and flashes its firmware from the command line.\n\nCommands:\n";
    for (const auto& c : commands()) {
        std::string line = std::string(c.name) + " " + c.synopsis;
        out << "  " << line << "\n      " << c.summary << '\n';
    }
    out << "\nEvery command takes:\n";
    listOptions(out, kCommon);
    out << "  --version          the tool's version (alone)\n\n"
           "kvtool COMMAND --help describes one command. Results go to stdout, errors to stderr;\n"
           "a progress line goes to stderr when it is a terminal.\n\n"
        << kExitCodes << '\n'
        << timeLimits();
    return out.str();
}

std::string commandHelp(const CommandSpec& c) {
    std::ostringstream out;
    out << "Usage: kvtool " << c.name << ' ' << c.synopsis << "\n" << c.summary << "\n\nOptions:\n";
    listOptions(out, c.options);
    listOptions(out, kCommon);
    out << "\nExit codes: kvtool --help\n";
    return out.str();
}

}  // namespace kelvane::cli
