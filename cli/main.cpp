// vemo-trace: the trace job from a shell, for scripts and batches.
//
// Traces each IMAGE with the settings of Vemo.sys, overridden by the
// options given; several images are traced N at a time (-j), each in a
// process of its own (cli/Vemo_batch.h). Stage texts and failures go to
// standard error, the completion message of each image to standard output,
// each image's texts together and in the order of the arguments. Exit
// status: 0 when every image was traced and every file written, 1 when
// anything failed, 2 for a usage error.
//
// Links no Qt: scripts start one process per image, and loading the
// framework's libraries would cost more than tracing a small page.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "base/Vemo_path.h"
#include "cli/Vemo_batch.h"
#include "cli/Vemo_privatefolder.h"
#include "common/Vemo_sys.h"
#include "common/Vemo_texts.h"
#include "image/Vemo_susie.h"
#include "job/Vemo_comp.h"
#include "trace/Vemotrace_records.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

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

// The output folder and stem an image's files get, as one comparable path.
std::filesystem::path OutputStem(const std::string& folder, const std::string& imagePath) {
    std::error_code error;
    std::filesystem::path where = std::filesystem::weakly_canonical(std::filesystem::absolute(folder, error), error);
    if (error) where = std::filesystem::path(folder).lexically_normal();
    return where / SplitPath(imagePath).stem;
}

int UsageError(const std::string& text) {
    std::cerr << "vemo-trace: " << text << "\nTry 'vemo-trace --help'.\n";
    return kExitUsage;
}

// One option of the command line: "--name", with a one-letter form when
// `letter` is not 0, taking a value when `value` names it.
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

// Accepts "--name", "--name=value", "--name value", "-x", "-xvalue" and
// "-x value"; "--" ends the options, a lone "-" is an image. Returns an
// error text, empty when the line was understood.
std::string ParseCommandLine(int argc, char** argv, const std::vector<OptionRule>& rules, CommandLine& line) {
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
        const bool isLong = argument[1] == '-';
        std::string name = isLong ? argument.substr(2) : argument.substr(1, 1);
        std::optional<std::string> attached;
        if (isLong && name.find('=') != std::string::npos) {
            attached = name.substr(name.find('=') + 1);
            name = name.substr(0, name.find('='));
        } else if (!isLong && argument.size() > 2) {
            attached = argument.substr(2);
        }
        const OptionRule* rule = nullptr;
        for (const OptionRule& candidate : rules) {
            if (isLong ? candidate.name == name : (candidate.letter != 0 && name[0] == candidate.letter)) rule = &candidate;
        }
        if (rule == nullptr) return "Unknown option '" + name + "'.";
        if (rule->value == nullptr) {
            if (attached) return "Unexpected value after '" + argument.substr(0, argument.find('=')) + "'.";
            line.options[rule->name] = std::string();
            continue;
        }
        if (!attached) {
            if (i + 1 >= argc) return "Missing value after '" + argument + "'.";
            attached = argv[++i];
        }
        line.options[rule->name] = *attached;
    }
    return std::string();
}

std::string HelpText(const char* program, const std::vector<OptionRule>& rules) {
    std::vector<std::pair<std::string, std::string>> rows;
    for (const OptionRule& rule : rules) {
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

int main(int argc, char** argv) {
    std::vector<OptionRule> rules = {{"help", 'h', nullptr, "Displays this help."}};
    for (const Switch& option : kSwitches) {
        rules.push_back({option.name, 0, nullptr, option.on});
        rules.push_back({std::string("no-") + option.name, 0, nullptr, option.off});
    }
    rules.push_back({"output", 'o', "DIR", "Write the output files into DIR."});
    rules.push_back({"x-ratio", 0, "R", "Scale X by R (a decimal number)."});
    rules.push_back({"y-ratio", 0, "R", "Scale Y by R (a decimal number)."});
    rules.push_back({"system-folder", 0, "DIR", "Use DIR as the system folder (Vemo.sys, base image, plug-ins)."});
    rules.push_back({"keep-temp", 0, nullptr, "Write the intermediate files in the image's folder and keep them."});
    rules.push_back({"join", 0, nullptr, "Join each stroke's traced pieces into clean polylines for CAD."});
    AddFitRules(rules);
    rules.push_back({"jobs", 'j', "N", "Trace N images at a time (default: the number of processors)."});
    rules.push_back({"quiet", 'q', nullptr, "No stage texts and no progress line."});

    CommandLine parser;
    const std::string error = ParseCommandLine(argc, argv, rules, parser);
    if (!error.empty()) return UsageError(error);
    if (parser.IsSet("help")) {
        std::cout << HelpText(argc > 0 ? argv[0] : "vemo-trace", rules);
        return 0;
    }
    if (parser.IsSet("output") && parser.Value("output").empty()) return UsageError("-o needs a folder");
    const std::vector<std::string>& images = parser.images;
    if (images.empty()) return UsageError("no image given");
    int jobs = ProcessorCount();
    if (parser.IsSet("jobs")) {
        const std::string& text = parser.Value("jobs");
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
        if (error != std::errc() || end != text.data() + text.size() || jobs < 1 || jobs > kMaxJobs) {
            return UsageError("-j needs a number of images from 1 to " + std::to_string(kMaxJobs));
        }
    }
    const bool quiet = parser.IsSet("quiet");
    for (const Switch& option : kSwitches) {
        if (parser.IsSet(option.name) && parser.IsSet(std::string("no-") + option.name)) {
            return UsageError(std::string("--") + option.name + " and --no-" + option.name +
                              " contradict each other");
        }
    }

    for (const char* ratio : {"x-ratio", "y-ratio"}) {
        if (parser.IsSet(ratio) && !IsDecimalNumber(parser.Value(ratio))) {
            return UsageError(std::string("--") + ratio + " needs a decimal number, not '" + parser.Value(ratio) + "'");
        }
    }

    const MessageSink toStandardError = [](const std::string& text) { std::cerr << text << '\n'; };

    std::unique_ptr<TVemo_sysF> settings =
        parser.IsSet("system-folder") ? std::make_unique<TVemo_sysF>(parser.Value("system-folder"), toStandardError)
                                      : std::make_unique<TVemo_sysF>(toStandardError);
    if (settings->CheckSettingsFile() != 0) return kExitFailed;

    TraceOptions options = OptionsFromSettings(settings->GetSettings());
    for (const Switch& option : kSwitches) {
        if (parser.IsSet(option.name)) options.*option.field = true;
        if (parser.IsSet(std::string("no-") + option.name)) options.*option.field = false;
    }
    if (parser.IsSet("x-ratio")) options.xRatioText = parser.Value("x-ratio");
    if (parser.IsSet("y-ratio")) options.yRatioText = parser.Value("y-ratio");
    options.join = parser.IsSet("join");
    if (const std::string fitError = FitOptionsFromCommandLine(parser, options); !fitError.empty()) {
        return UsageError(fitError);
    }

    const auto outputFolderOf = [&](const std::string& imagePath) {
        return parser.IsSet("output") ? parser.Value("output") : DirectoryOf(imagePath);
    };
    if (options.exportText || options.exportDxf || options.exportA10 || options.exportSvg) {
        // The second image's files would silently replace the first one's.
        std::map<std::filesystem::path, std::string> imageByStem;
        for (const std::string& imagePath : images) {
            const auto [place, added] = imageByStem.emplace(OutputStem(outputFolderOf(imagePath), imagePath), imagePath);
            if (!added) return UsageError(place->second + " and " + imagePath + " would write the same output files");
        }
    }

    const bool keepTemp = parser.IsSet("keep-temp");
    // In a batch each image's process catches the signals for its own
    // private folder; the batch's children get them with the whole group.
    TVemo_privatefolder::CatchStopSignals();

    // One image's whole run; in a batch, in the image's own process.
    const auto traceOne = [&](const std::string& imagePath, const MessageSink& errors, const MessageSink& output) {
        const StatusSink status = [&](std::string_view text) {
            if (!quiet) errors(std::string(text));
        };
        TVemo_susieF susie(errors);
        status(texts::kStatusLoading);
        TVemo_comp job(imagePath, outputFolderOf(imagePath), *settings, susie, errors, status);
        job.SetCompletionSink(output);
        std::optional<TVemo_privatefolder> privateFolder;
        if (!keepTemp) {
            privateFolder.emplace();
            if (!privateFolder->Error().empty()) {
                errors(texts::FileFailed(privateFolder->Path(), privateFolder->Error()));
                errors(texts::CannotProcess(imagePath));
                return kExitFailed;
            }
            job.SetIntermediateFolder(privateFolder->Path());
            job.SetFolderLock(FolderLockMode::HeldByCaller);
        }
        const int result = job.Run(options) == 0 ? 0 : kExitFailed;
        status(texts::kStatusFinished);
        return result;
    };

    if (images.size() == 1) {
        const MessageSink toStandardOutput = [](const std::string& text) { std::cout << text << std::endl; };
        return traceOne(images.front(), toStandardError, toStandardOutput);
    }
    const bool showProgress = !quiet && ::isatty(STDERR_FILENO) == 1;
    TVemo_batch batch(images, jobs, showProgress);
    const std::size_t failed = batch.Run([&](std::size_t index, const BatchSinks& sinks) {
        return traceOne(images[index], sinks.error, sinks.output);
    });
    return failed == 0 ? 0 : kExitFailed;
}
