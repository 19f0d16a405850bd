// Vemo_cmdline: vemo-trace's command line, read into what the run needs.
//
// Reads the arguments as the program got them: "--name", "--name=value",
// "--name value", "-x", "-xvalue", "-x value" and bundled letters ("-qh",
// "-qj2"); "--" ends the options and a lone "-" is an image. Then checks
// what the options say (a job count, decimal ratios, no switch given with
// its --no- form). Reads no file and touches no settings: every answer is
// either a usable command or one usage error text.
#pragma once

#include <map>
#include <string>
#include <vector>

struct TraceOptions;

// One option: "--name", with a one-letter form when `letter` is not 0,
// taking a value when `value` names it.
struct OptionRule {
    std::string name;
    char letter;
    const char* value;
    std::string help;
};

// The options given, by long name (the last value counts), and the images.
struct CommandLine {
    std::map<std::string, std::string> options;
    std::vector<std::string> images;
    bool IsSet(const std::string& name) const { return options.count(name) != 0; }
    const std::string& Value(const std::string& name) const { return options.at(name); }
};

// vemo-trace's options, in the order the help lists them.
const std::vector<OptionRule>& TraceRules();

// Reads `argv[1..argc)` by `rules` into `line`. Returns an error text,
// empty when the line was understood.
std::string ParseCommandLine(int argc, const char* const* argv, const std::vector<OptionRule>& rules, CommandLine& line);

// What one vemo-trace call asks for, once the line is understood.
struct TraceCommand {
    CommandLine line;
    bool help = false;
    bool quiet = false;  // only failures are told
    int jobs = 1;
};

// Parses and checks vemo-trace's arguments; `defaultJobs` stands for an
// absent -j. Returns a usage error text, empty when `command` is usable.
std::string ReadTraceCommand(int argc, const char* const* argv, int defaultJobs, TraceCommand& command);

// The switches and ratios given, over `options` as the settings set them.
void ApplyCommandLine(const CommandLine& line, TraceOptions& options);

std::string HelpText(const char* program);
