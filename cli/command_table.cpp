// The command table: every kvtool command as one row (name, the function
// that runs it, what it needs, its help and options). main() runs the row
// the arguments name; --help and the docs are made from the same rows.
#include "cli/arguments.h"
#include "cli/commands.h"

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

}  // namespace

const std::vector<CommandSpec>& commands() {
    static const std::vector<CommandSpec> all = {
        {"ports",
         portsCommand,
         Needs::Console,
         "[--json]",
         "list the serial ports: name, description, manufacturer, serial number, USB vid:pid",
         0,
         0,
         {kJson}},
        {"probe",
         probeCommand,
         Needs::Console,
         "--port P [--json]",
         "ask the controller for its ID, serial number and firmware version",
         0,
         0,
         {kPort, kJson}},
        {"download",
         downloadCommand,
         Needs::Console,
         "--port P -o FILE.kvd [--description TEXT]",
         "read the controller's image into a data file",
         0,
         0,
         {kPort, kOutput, {"--description", true, "TEXT stored as the file's description"}, kRegister}},
        {"upload",
         uploadCommand,
         Needs::Console,
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
        {"check",
         checkCommand,
         Needs::Console,
         "--port P FILE.kvd",
         "read the controller and compare with the file (differences: exit 6)",
         1,
         1,
         {kPort, kRegister}},
        {"diff",
         diffCommand,
         Needs::Console,
         "A.kvd B.kvd [--json]",
         "list what differs between two data files (differences: exit 6)",
         2,
         2,
         {kJson}},
        {"show",
         showCommand,
         Needs::Console,
         "FILE.kvd [--json]",
         "every setting (number, label, value) and every table row",
         1,
         1,
         {kJson}},
        {"cards",
         cardsCommand,
         Needs::Display,
         "FILE.kvd -o CARDS.pdf [--text TEXT] [--flat L.N]",
         "the residents' cards as an A4 PDF (no display needed)",
         1,
         1,
         {kOutput,
          {"--text", true, "TEXT printed on every card (the window's card text)"},
          {"--flat", true, "L.N: the cards of this flat only (line 1 or 2, flat 1 to 255)"}}},
        {"export-csv",
         exportCsvCommand,
         Needs::Console,
         "FILE.kvd -o DIR",
         "the four code tables as CSV files (keys, residents, general_codes, digitizers)",
         1,
         1,
         {kOutput}},
        {"import-csv",
         importCsvCommand,
         Needs::Console,
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
         lintCommand,
         Needs::Console,
         "FILE.kvd [--json]",
         "security and consistency warnings of the configuration (warnings: exit 6; information only: 0)",
         1,
         1,
         {kJson}},
        {"merge",
         mergeCommand,
         Needs::Console,
         "BASE.kvd FILE.kvd CONTROLLER.kvd -o OUT.kvd [--prefer file|controller]",
         "join the file's edits with what changed at the controller since the base (conflicts: exit 6); "
         "the register notes the result as coming from the controller's building",
         3,
         3,
         {kOutput, kPrefer, kRegister}},
        {"register",
         registerCommand,
         Needs::Console,
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
         keyCommand,
         Needs::Console,
         "status | export FILE | import FILE | rotate | to-keychain [--passphrase-file F]",
         "the data key that seals the register's images and the backups: where it is, wrapped with a passphrase for a "
         "colleague's computer, taken from such a file, replaced by a new one (everything local sealed again, the "
         "company register's images at the next sync), moved from the own key file to a keychain",
         1,
         2,
         {kRegister, {"--passphrase-file", true, "F: the passphrase is the first line of F (export, import; else asked)"}}},
        {"flash",
         flashCommand,
         Needs::Console,
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
         lineTestCommand,
         Needs::Console,
         "--port P",
         "test the line: with a loopback plug (TX joined to RX) bytes lost or changed and the round trip at 2400 and "
         "57,600 baud, else 20 probes of the controller; names the adapter (exit 6: losses or unanswered probes)",
         0,
         0,
         {kPort}},
        {"support-bundle",
         supportBundleCommand,
         Needs::Console,
         "-o FILE.zip [--image FILE.kvd]",
         "a ZIP to send to support: newest traces, logs, versions, ports, settings and the image, every code masked",
         0,
         0,
         {kOutput, {"--image", true, "FILE.kvd: add this image, masked"}}},
        // The flat actions of a service visit.
        {"flat",
         flatCommand,
         Needs::Console,
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
         reportCommand,
         Needs::Display,
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

}  // namespace kelvane::cli
