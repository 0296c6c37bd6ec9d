#pragma once
// The command line: a command, its positional arguments and its options,
// checked against what the command accepts.
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::cli {

struct OptionSpec {
    const char* name;  // "--port"
    bool takesValue;
    const char* help;
    bool required = false;  // --port is checked by the command, which lists the ports found
};

struct Tool;

// What a command needs besides the console: fonts and a paint device (the
// cards, the report), which it gets without a display from the offscreen
// platform.
enum class Needs { Console, Display };

// A row of the command table: the command, the function that runs it (its
// exit code), what it needs, and its help.
struct CommandSpec {
    const char* name;
    int (*run)(const Tool& tool);
    Needs needs;
    const char* synopsis;  // after "kvtool NAME "
    const char* summary;
    int minPositional;
    int maxPositional;
    std::vector<OptionSpec> options;
};

// Every command, in the order --help lists them (cli/command_table.cpp).
const std::vector<CommandSpec>& commands();
const CommandSpec* findCommand(const std::string& name);

struct Invocation {
    const CommandSpec* command = nullptr;  // null: no command (tool-wide --help / --version)
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // flags hold ""

    bool has(const std::string& option) const { return options.count(option) != 0; }
    std::string value(const std::string& option) const {
        auto it = options.find(option);
        return it == options.end() ? std::string() : it->second;
    }
};

struct ParseResult {
    Invocation invocation;
    std::string error;  // non-empty: a usage error naming the argument
};

// args without the program name. Options may come anywhere, as "--name value"
// or "--name=value"; "-o" is "--output" and "-h" is "--help"; "--" ends the
// options. --help, --lang and --quiet are understood by every command.
ParseResult parseArguments(const std::vector<std::string>& args);

std::string toolHelp();
std::string commandHelp(const CommandSpec& command);

}  // namespace kelvane::cli
