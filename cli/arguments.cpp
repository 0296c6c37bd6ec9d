#include "cli/arguments.h"
#include "texts/language_table.h"

#include "cli/exit_codes.h"
#include "cli/time_limits.h"
#include "link/net_line.h"

#include <sstream>

namespace kelvane::cli {

namespace {

const OptionSpec kPort{"--port", true,
                       "P: a device path (/dev/ttyUSB0, a pty), a system name (COM3), a serial-over-IP\n"
                       "                     gateway (rfc2217://HOST:PORT, rfc2217+tls://HOST:PORT, socket://HOST:PORT)\n"
                       "                     or sim, a simulated controller that starts from the sample building on\n"
                       "                     every call (what one call uploads, the next does not hold)"};
const OptionSpec kBootloaderPort{"--port", true,
                                 "P: a device path (/dev/ttyUSB0, a pty), a system name (COM3), a gateway\n"
                                 "                     (rfc2217://HOST:PORT, rfc2217+tls://HOST:PORT; socket:// is refused,\n"
                                 "                     its speed is fixed) or sim, a simulated controller with its\n"
                                 "                     bootloader, holding the sample building; it\n"
                                 "                     answers at once (the job takes no time). Its new firmware keeps\n"
                                 "                     the configuration, or with KELVANE_SIM_FIRMWARE=resets starts from\n"
                                 "                     the initial one, =silent never answers again"};
const OptionSpec kJson{"--json", false, "print JSON for scripts instead of text"};
const OptionSpec kOutput{"--output", true, "FILE or DIR to write (also -o)", true};
const OptionSpec kPrefer{"--prefer", true, "file|controller: the side every conflict of the merge takes"};
const OptionSpec kRegister{"--register", true,
                           "PATH: the building register (default: $KELVANE_REGISTER, else "
                           "~/.local/share/Kelvane/register.sqlite)"};

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

const std::vector<CommandSpec>& commands() {
    static const std::vector<CommandSpec> all = {
        {"ports", "[--json]", "list the serial ports: name, description, manufacturer, serial number, USB vid:pid", 0, 0, {kJson}},
        {"probe", "--port P [--json]", "ask the controller for its ID, serial number and firmware version", 0, 0, {kPort, kJson}},
        {"download",
         "--port P -o FILE.kvd [--description TEXT]",
         "read the controller's image into a data file",
         0,
         0,
         {kPort, kOutput, {"--description", true, "TEXT stored as the file's description"}, kRegister}},
        {"upload",
         "--port P FILE.kvd [--base BASE.kvd [--prefer file|controller] | --full] [--overwrite] [--check] [--yes] [--other-controller]",
         "read the controller, merge with what changed there since the file's base (the register's, or --base), "
         "show what differs, ask, then send only the differing blocks; refused (exit 7) before anything is sent "
         "when the file's image came from another controller, or when that cannot be told (no register, no "
         "answer to the probe, an image the register does not know) and the controller holds something else",
         1,
         1,
         {kPort,
          kRegister,
          {"--other-controller", false,
           "send even when the file's image came from another controller or its origin cannot be told"},
          {"--base", true,
           "BASE.kvd: the image the file's edits started from (default: the register's); what changed at the "
           "controller since is kept, conflicts end with exit 6"},
          kPrefer,
          {"--overwrite", false, "make the controller equal to the file, undoing what changed there since the base"},
          {"--full", false, "send every block"},
          {"--check", false, "read the controller back afterwards and compare (differences: exit 6)"},
          {"--yes", false, "send without asking (needed without a terminal)"}}},
        {"check", "--port P FILE.kvd", "read the controller and compare with the file (differences: exit 6)", 1, 1, {kPort, kRegister}},
        {"diff", "A.kvd B.kvd [--json]", "list what differs between two data files (differences: exit 6)", 2, 2, {kJson}},
        {"show", "FILE.kvd [--json]", "every setting (number, label, value) and every table row", 1, 1, {kJson}},
        {"cards",
         "FILE.kvd -o CARDS.pdf [--text TEXT] [--flat L.N]",
         "the residents' cards as an A4 PDF (no display needed)",
         1,
         1,
         {kOutput,
          {"--text", true, "TEXT printed on every card (the window's card text)"},
          {"--flat", true, "L.N: the cards of this flat only (line 1 or 2, flat 1 to 255)"}}},
        {"export-csv",
         "FILE.kvd -o DIR",
         "the four code tables as CSV files (keys, residents, general_codes, digitizers)",
         1,
         1,
         {kOutput}},
        {"import-csv",
         "FILE.kvd TABLE CSV -o OUT.kvd [--append]",
         "a code table from a CSV file, every row checked first; TABLE is keys, residents, general_codes or digitizers",
         3,
         3,
         {kOutput,
          kRegister,
          {"--append", false,
           "add the file's rows (a row for an entry already there replaces it); "
           "without it they replace the table"}}},
        {"lint",
         "FILE.kvd [--json]",
         "security and consistency warnings of the configuration (warnings: exit 6; information only: 0)",
         1,
         1,
         {kJson}},
        {"merge",
         "BASE.kvd FILE.kvd CONTROLLER.kvd -o OUT.kvd [--prefer file|controller]",
         "join the file's edits with what changed at the controller since the base (conflicts: exit 6); "
         "the register notes the result as coming from the controller's building",
         3,
         3,
         {kOutput, kPrefer, kRegister}},
        {"register",
         "list [--json] | show SERIAL [--json] | name SERIAL NAME [--address A] | history SERIAL [--json] | "
         "diff SERIAL VISIT VISIT | export SERIAL VISIT -o FILE.kvd | server-setup URL | sync [--server URL] [--json]",
         "the building register: every controller met (SERIAL, or ID/SERIAL) and its visits; downloads, checks and "
         "uploads record theirs; the company register (URL: postgresql://user@host:port/dbname) gathers every "
         "laptop's (server-setup creates or migrates its schema; sync pushes and pulls, no server: exit 4)",
         1,
         4,
         {kRegister,
          kJson,
          {"--address", true, "A: the building's address (name)"},
          {"--output", true, "FILE.kvd to write (export; also -o)"},
          {"--server", true, "URL: the company register to sync with, kept as this computer's (sync)"}}},
        {"key",
         "status | export FILE | import FILE | rotate | to-keychain [--passphrase-file F]",
         "the data key that seals the register's images and the backups: where it is, wrapped with a passphrase for a "
         "colleague's computer, taken from such a file, replaced by a new one (everything local sealed again, the "
         "company register's images at the next sync), moved from the own key file to a keychain",
         1,
         2,
         {kRegister, {"--passphrase-file", true, "F: the passphrase is the first line of F (export, import; else asked)"}}},
        {"flash",
         "--port P [FIRMWARE] [--no-backup] [--verify-config] [--restore-config] [--yes] [--register FILE]",
         "back the configuration up, program controller firmware through its bootloader (default 4817_05.dat), "
         "wait for the controller to come back",
         0,
         1,
         {kBootloaderPort,
          {"--no-backup", false,
           "do not read the configuration first (a controller that does not answer is flashed all the same)"},
          {"--verify-config", false, "read the configuration again afterwards and compare with the backup (changed: exit 6)"},
          {"--restore-config", false, "as --verify-config, and upload the backup when it changed, after asking"},
          {"--yes", false, "restore without asking (needed without a terminal)"},
          kRegister}},
        {"line-test",
         "--port P",
         "test the line: with a loopback plug (TX joined to RX) bytes lost or changed and the round trip at 2400 and "
         "57,600 baud, else 20 probes of the controller; names the adapter (exit 6: losses or unanswered probes)",
         0,
         0,
         {kPort}},
        {"support-bundle",
         "-o FILE.zip [--image FILE.kvd]",
         "a ZIP to send to support: newest traces, logs, versions, ports, settings and the image, every code masked",
         0,
         0,
         {kOutput, {"--image", true, "FILE.kvd: add this image, masked"}}},
        // The flat actions of a service visit.
        {"flat",
         "moved-out FILE.kvd L.N | new-resident FILE.kvd L.N [--new-main] | lost-key FILE.kvd KEY [--new-key KEY] | "
         "general-code FILE.kvd CODE  -o OUT.kvd [--code N] [--main-code N] [--json]",
         "a resident moved out (open and main code cleared, the flat's keys removed), a new resident (new open "
         "code), a lost key, a new general code; prints what changed and the new codes, drawn from the system's "
         "random generator unless typed (refused: exit 8, nothing written)",
         3,
         3,
         {kOutput,
          kJson,
          {"--new-main", false, "new-resident: a new main-entrance call code too"},
          {"--new-key", true, "KEY: lost-key: store this key for the same local number"},
          {"--code", true, "N: the new open code (new-resident) or general code (general-code), typed"},
          {"--main-code", true, "N: new-resident: the new main code, typed"}}},
        {"report",
         "SERIAL VISIT -o REPORT.pdf [--show-codes] [--json]",
         "the visit report for the building manager: a one-page A4 PDF with the building, the visit, the "
         "controller, what changed since the visit before (codes as ••••) and the configuration warnings left; "
         "VISIT as register show lists it; the register notes the report with the visit",
         2,
         2,
         {kOutput, kRegister, kJson, {"--show-codes", false, "print the codes and keys in plain, not as ••••"}}},
    };
    return all;
}

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
