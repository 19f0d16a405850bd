// Fuzzes vemo-trace's command line: the input is its arguments, each ended
// by a NUL byte. Any arguments must be read without a crash, give either a
// usage error or a command within bounds, and read the same when written
// back in the long spellings.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/Vemo_cmdline.h"
#include "job/Vemo_comp.h"

namespace {

std::vector<const char*> Argv(const std::vector<std::string>& arguments) {
    std::vector<const char*> argv = {"vemo-trace"};
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    return argv;
}

// The command as "--name=value" (or "--name"), then "--" and the images.
std::vector<std::string> LongSpellings(const CommandLine& line) {
    std::vector<std::string> arguments;
    for (const auto& [name, value] : line.options) {
        bool takesValue = false;
        for (const OptionRule& rule : TraceRules()) {
            if (rule.name == name) takesValue = rule.value != nullptr;
        }
        arguments.push_back("--" + name + (takesValue ? "=" + value : std::string()));
    }
    arguments.push_back("--");
    for (const std::string& image : line.images) arguments.push_back(image);
    return arguments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments;
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty()) arguments.push_back(current);
    const std::vector<const char*> argv = Argv(arguments);

    TraceCommand command;
    const std::string error = ReadTraceCommand(static_cast<int>(argv.size()), argv.data(), 4, command);
    if (command.line.images.size() > arguments.size()) std::abort();
    for (const auto& option : command.line.options) {
        bool known = false;
        for (const OptionRule& rule : TraceRules()) known = known || rule.name == option.first;
        if (!known) std::abort();
    }
    if (!error.empty() || command.help) return 0;
    if (command.line.images.empty() || command.jobs < 1 || command.jobs > 1024) std::abort();
    TraceOptions options;
    ApplyCommandLine(command.line, options);

    // Written back in the long spellings, the line reads the same.
    const std::vector<std::string> again = LongSpellings(command.line);
    const std::vector<const char*> againArgv = Argv(again);
    CommandLine reread;
    if (!ParseCommandLine(static_cast<int>(againArgv.size()), againArgv.data(), TraceRules(), reread).empty()) std::abort();
    if (reread.options != command.line.options || reread.images != command.line.images) std::abort();
    return 0;
}
