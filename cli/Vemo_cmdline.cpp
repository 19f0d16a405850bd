// Vemo_cmdline: parsing and checking vemo-trace's arguments.
#include "cli/Vemo_cmdline.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>

#include "common/Vemo_common.h"
#include "export/Vemo_units.h"
#include "job/Vemo_comp.h"

namespace {

const char* kDescription =
    "Traces scanned line drawings (BMP, TIFF, PNG, GIF) into centre-line polylines and writes them\n"
    "as a text file (.txt), a DXF drawing (.dxf), an A10 file (.A10) and/or an SVG drawing (.svg),\n"
    "named after the image.\n"
    "\n"
    "Formats, axis flips and ratios not given here come from Vemo.sys in the system folder; each\n"
    "switch has a --no- form that turns off what the file turns on. The output folder defaults to\n"
    "each image's own folder. The intermediate files (temp.sqr, temp.sqo, temp.pxy, temp.lix) go\n"
    "to a private folder under $TMPDIR (or /tmp), removed when the image is done; with --keep-temp\n"
    "they are written in the image's folder and kept.\n"
    "\n"
    "Several images are traced N at a time (-j N, default: the number of processors), each in a\n"
    "process of its own; each image's texts come out together, in the order of the arguments.\n"
    "Memory grows with N: one trace of an A0 scan at 300 dpi needs about 110 MB.\n"
    "On a terminal a batch shows a progress line on standard error; --quiet turns it off.\n"
    "\n"
    "Exit status: 0 every image traced and every file written, 1 something failed, 2 usage error.";

// A sane bound for -j: more processes than this only thrash.
constexpr int kMaxJobs = 1024;

struct Switch {
    const char* name;
    const char* on;
    const char* off;
    bool TraceOptions::*field;
};

const Switch kSwitches[] = {
    {"txt", "Write the text file.", "Do not write the text file.", &TraceOptions::exportText},
    {"dxf", "Write the DXF drawing.", "Do not write the DXF drawing.", &TraceOptions::exportDxf},
    {"a10", "Write the A10 file.", "Do not write the A10 file.", &TraceOptions::exportA10},
    {"svg", "Write an SVG drawing (for browsers and Inkscape).", "Do not write the SVG drawing.",
     &TraceOptions::exportSvg},
    {"flip-x", "Mirror X about the image's width.", "Do not mirror X.", &TraceOptions::flipX},
    {"flip-y", "Mirror Y about the image's height.", "Do not mirror Y.", &TraceOptions::flipY},
};

const OptionRule* FindRule(const std::vector<OptionRule>& rules, bool isLong, std::string_view name) {
    for (const OptionRule& rule : rules) {
        if (isLong ? rule.name == name : (rule.letter != 0 && name.size() == 1 && name[0] == rule.letter)) return &rule;
    }
    return nullptr;
}

// A ratio as a shell or a spreadsheet hands it over: blanks after the
// number are no part of it, and atof stops before them anyway.
std::string_view WithoutTrailingBlanks(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Fills the unit and the resolution of `options` from --units and --dpi;
// an error text, empty when both were understood.
std::string ParseScaleOptions(const CommandLine& line, TraceOptions& options) {
    if (line.IsSet("units")) {
        const std::optional<OutputUnit> unit = UnitFromName(line.Value("units"));
        if (!unit) return "--units needs px, mm or in, not '" + line.Value("units") + "'";
        options.units = *unit;
    }
    if (line.IsSet("dpi")) {
        const std::string& text = line.Value("dpi");
        if (!ParseResolution(text, options.xDpi, options.yDpi)) {
            return "--dpi needs a resolution above 0 (N or X,Y), not '" + text + "'";
        }
    }
    return std::string();
}

// The fitting step's options: --fit (which joins first), --fit-tolerance
// and --snap-angles, the last two only with --fit.
constexpr double kLargestFitTolerance = 100.0;  // pixels; more fits anything to anything

void AddFitRules(std::vector<OptionRule>& rules) {
    rules.push_back({"fit", 0, nullptr, "Fit the joined lines into LINE, ARC and CIRCLE entities (implies --join)."});
    rules.push_back({"fit-tolerance", 0, "D",
                     "Keep every traced point within D pixels of its entities (default: 0.75 or half the ink's width)."});
    rules.push_back({"snap-angles", 0, nullptr, "With --fit: make lines within 0.5 degrees of level or upright exactly so."});
}

// An error text for the usage message, empty when the options hold.
std::string FitOptionsFromCommandLine(const CommandLine& parser, TraceOptions& options) {
    options.fit = parser.IsSet("fit");
    if (!options.fit && (parser.IsSet("fit-tolerance") || parser.IsSet("snap-angles"))) {
        return "--fit-tolerance and --snap-angles need --fit";
    }
    if (parser.IsSet("fit-tolerance")) {
        const std::string& text = parser.Value("fit-tolerance");
        const double tolerance = IsDecimalNumber(text) ? ParseNumber(text) : 0.0;
        if (!(tolerance > 0 && tolerance <= kLargestFitTolerance)) {
            return "--fit-tolerance needs a number of pixels above 0 and at most 100, not '" + text + "'";
        }
        options.fitTolerance = tolerance;
    }
    options.snapAngles = parser.IsSet("snap-angles");
    if (options.fit) options.join = true;
    return std::string();
}

}  // namespace

const std::vector<OptionRule>& TraceRules() {
    static const std::vector<OptionRule> rules = [] {
        std::vector<OptionRule> list = {{"help", 'h', nullptr, "Displays this help."}};
        for (const Switch& option : kSwitches) {
            list.push_back({option.name, 0, nullptr, option.on});
            list.push_back({std::string("no-") + option.name, 0, nullptr, option.off});
        }
        list.push_back({"output", 'o', "DIR", "Write the output files into DIR (an existing folder)."});
        list.push_back({"x-ratio", 0, "R", "Scale X by R (a decimal number)."});
        list.push_back({"y-ratio", 0, "R", "Scale Y by R (a decimal number)."});
        list.push_back({"system-folder", 0, "DIR", "Use DIR as the system folder (Vemo.sys, base image, plug-ins)."});
        list.push_back({"keep-temp", 0, nullptr, "Write the intermediate files in the image's folder and keep them."});
        list.push_back({"no-wait", 0, nullptr,
                        "With --keep-temp: fail at once when another run uses the image's folder, instead of waiting."});
        list.push_back({"join", 0, nullptr, "Join each stroke's traced pieces into clean polylines for CAD."});
        AddFitRules(list);
        list.push_back({"jobs", 'j', "N", "Trace N images at a time (default: the number of processors)."});
        list.push_back({"quiet", 'q', nullptr, "Tell only failures: no stage texts, completion lines or progress line."});
        list.push_back({"units", 0, "UNIT",
                        "Write coordinates in px (default), mm or in; mm and in need the image's resolution."});
        list.push_back({"dpi", 0, "N[,M]",
                        "The image's resolution in dots per inch (X,Y when they differ), instead of the one it stores."});
        return list;
    }();
    return rules;
}

std::string ParseCommandLine(int argc, const char* const* argv, const std::vector<OptionRule>& rules, CommandLine& line) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            line.images.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument[1] == '-') {
            std::string name = argument.substr(2);
            std::optional<std::string> attached;
            if (const std::size_t equals = name.find('='); equals != std::string::npos) {
                attached = name.substr(equals + 1);
                name.resize(equals);
            }
            const OptionRule* rule = FindRule(rules, true, name);
            if (rule == nullptr) return "Unknown option '" + name + "'.";
            if (rule->value == nullptr) {
                if (attached) return "Unexpected value after '--" + name + "'.";
                line.options[rule->name] = std::string();
                continue;
            }
            if (!attached) {
                if (i + 1 >= argc) return "Missing value after '" + argument + "'.";
                attached = argv[++i];
            }
            line.options[rule->name] = *attached;
            continue;
        }
        // Letters: each one without a value, until one that takes the rest
        // of the argument (or the next one) as its value.
        for (std::size_t at = 1; at < argument.size(); ++at) {
            const OptionRule* rule = FindRule(rules, false, argument.substr(at, 1));
            if (rule == nullptr) return "Unknown option '" + argument.substr(at, 1) + "'.";
            if (rule->value == nullptr) {
                line.options[rule->name] = std::string();
                continue;
            }
            if (at + 1 < argument.size()) {
                line.options[rule->name] = argument.substr(at + 1);
            } else if (i + 1 < argc) {
                line.options[rule->name] = argv[++i];
            } else {
                return "Missing value after '-" + std::string(1, rule->letter) + "'.";
            }
            break;
        }
    }
    return std::string();
}

std::string ReadTraceCommand(int argc, const char* const* argv, int defaultJobs, TraceCommand& command) {
    const std::string error = ParseCommandLine(argc, argv, TraceRules(), command.line);
    if (!error.empty()) return error;
    const CommandLine& line = command.line;
    command.help = line.IsSet("help");
    if (command.help) return std::string();
    if (line.IsSet("output") && line.Value("output").empty()) return "-o needs a folder";
    if (line.images.empty()) return "no image given";
    command.jobs = defaultJobs;
    if (line.IsSet("jobs")) {
        const std::string& text = line.Value("jobs");
        const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), command.jobs);
        if (failure != std::errc() || end != text.data() + text.size() || command.jobs < 1 || command.jobs > kMaxJobs) {
            return "-j needs a number of images from 1 to " + std::to_string(kMaxJobs);
        }
    }
    command.quiet = line.IsSet("quiet");
    for (const Switch& option : kSwitches) {
        if (line.IsSet(option.name) && line.IsSet(std::string("no-") + option.name)) {
            return std::string("--") + option.name + " and --no-" + option.name + " contradict each other";
        }
    }
    for (const char* ratio : {"x-ratio", "y-ratio"}) {
        if (line.IsSet(ratio) && !IsDecimalNumber(WithoutTrailingBlanks(line.Value(ratio)))) {
            return std::string("--") + ratio + " needs a decimal number, not '" + line.Value(ratio) + "'";
        }
        if (line.IsSet(ratio) && ParseNumber(line.Value(ratio)) == 0.0) {
            return std::string("--") + ratio + " needs a number other than 0, not '" + line.Value(ratio) + "'";
        }
    }
    TraceOptions scratch;
    if (std::string error = FitOptionsFromCommandLine(line, scratch); !error.empty()) return error;
    return ParseScaleOptions(line, scratch);
}

void ApplyCommandLine(const CommandLine& line, TraceOptions& options) {
    for (const Switch& option : kSwitches) {
        if (line.IsSet(option.name)) options.*option.field = true;
        if (line.IsSet(std::string("no-") + option.name)) options.*option.field = false;
    }
    if (line.IsSet("x-ratio")) options.xRatioText = line.Value("x-ratio");
    if (line.IsSet("y-ratio")) options.yRatioText = line.Value("y-ratio");
    options.join = line.IsSet("join");
    // Checked by ReadTraceCommand already.
    (void)FitOptionsFromCommandLine(line, options);
    (void)ParseScaleOptions(line, options);
}

std::string HelpText(const char* program) {
    std::vector<std::pair<std::string, std::string>> rows;
    for (const OptionRule& rule : TraceRules()) {
        std::string left = rule.letter != 0 ? std::string("-") + rule.letter + ", --" + rule.name : "--" + rule.name;
        if (rule.value != nullptr) left += std::string(" <") + rule.value + ">";
        rows.emplace_back(left, rule.help);
    }
    std::size_t width = std::strlen("IMAGE");
    for (const auto& row : rows) width = std::max(width, row.first.size());
    const auto line = [width](const std::string& left, const std::string& right) {
        return "  " + left + std::string(width - left.size() + 2, ' ') + right + "\n";
    };
    std::string text = std::string("Usage: ") + program + " [options] IMAGE...\n" + kDescription + "\n\nOptions:\n";
    for (const auto& row : rows) text += line(row.first, row.second);
    text += "\nArguments:\n" + line("IMAGE", "Image files to trace.");
    return text;
}
