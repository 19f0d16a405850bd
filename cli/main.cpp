// vemo-trace: the trace job from a shell, for scripts and batches.
//
// Traces each IMAGE in turn with the settings of Vemo.sys, overridden by
// the options given. Stage texts and failures go to standard error, the
// completion message of each image to standard output. Exit status: 0 when
// every image was traced and every file written, 1 when anything failed,
// 2 for a usage error.
#include <cerrno>
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

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <unistd.h>

#include "app/Vemo_comp.h"
#include "app/Vemo_sys.h"
#include "app/Vemo_texts.h"
#include "base/Vemo_path.h"
#include "image/Vemo_susie.h"
#include "trace/Vemotrace_records.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* kDescription =
    "Traces scanned line drawings (BMP, TIFF, PNG, GIF) into centre-line polylines and writes them\n"
    "as a text file (.txt), a DXF drawing (.dxf) and/or an A10 file (.A10), named after the image.\n"
    "\n"
    "Formats, axis flips and ratios not given here come from Vemo.sys in the system folder; each\n"
    "switch has a --no- form that turns off what the file turns on. The output folder defaults to\n"
    "each image's own folder. The intermediate files (temp.sqr, temp.sqo, temp.pxy, temp.lix) are\n"
    "written in the image's folder and removed after the export unless --keep-temp is given.\n"
    "\n"
    "Exit status: 0 every image traced and every file written, 1 something failed, 2 usage error.";

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
    {"flip-x", "Mirror X about the image's width.", "Do not mirror X.", &TraceOptions::flipX},
    {"flip-y", "Mirror Y about the image's height.", "Do not mirror Y.", &TraceOptions::flipY},
};

const char* const kIntermediateNames[] = {records::kSquaresFileName, records::kGroupsFileName,
                                         records::kPointsFileName, records::kLinesFileName};

// The private folder of the image being traced, for the signal handler:
// a run stopped with Ctrl-C or kill leaves nothing behind either.
char g_privateFolder[PATH_MAX];
volatile sig_atomic_t g_privateFolderSet = 0;

void RemovePrivateFolderOnSignal(int signalNumber) {
    if (g_privateFolderSet != 0) {
        char path[PATH_MAX + 16];
        for (const char* name : kIntermediateNames) {
            // Only async-signal-safe calls here: no snprintf, no allocation.
            std::size_t length = 0;
            for (const char* c = g_privateFolder; *c != '\0' && length < PATH_MAX; ++c) path[length++] = *c;
            path[length++] = '/';
            for (const char* c = name; *c != '\0'; ++c) path[length++] = *c;
            path[length] = '\0';
            ::unlink(path);
        }
        ::rmdir(g_privateFolder);
    }
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = RemovePrivateFolderOnSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signalNumber, &action, nullptr);
}

// A folder of this run's own for the intermediate files of one image,
// removed with everything in it when the image is done, traced or not.
class PrivateFolder {
public:
    PrivateFolder() {
        std::error_code error;
        std::string pattern = (std::filesystem::temp_directory_path(error) / "vemo-trace-XXXXXX").string();
        if (error) pattern = "/tmp/vemo-trace-XXXXXX";
        if (pattern.size() >= PATH_MAX) errno = ENAMETOOLONG;
        if (pattern.size() >= PATH_MAX || ::mkdtemp(pattern.data()) == nullptr) {
            m_error = std::strerror(errno);
            m_path = pattern;
            return;
        }
        m_path = pattern;
        std::memcpy(g_privateFolder, m_path.c_str(), m_path.size() + 1);
        g_privateFolderSet = 1;
    }
    ~PrivateFolder() {
        if (!m_error.empty()) return;
        g_privateFolderSet = 0;
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    const std::string& Path() const { return m_path; }
    const std::string& Error() const { return m_error; }

private:
    std::string m_path;
    std::string m_error;
};

// The output folder and stem an image's files get, as one comparable path.
std::filesystem::path OutputStem(const std::string& folder, const std::string& imagePath) {
    std::error_code error;
    std::filesystem::path where = std::filesystem::weakly_canonical(std::filesystem::absolute(folder, error), error);
    if (error) where = std::filesystem::path(folder).lexically_normal();
    return where / SplitPath(imagePath).stem;
}

int UsageError(const QString& text) {
    std::cerr << "vemo-trace: " << text.toStdString() << "\nTry 'vemo-trace --help'.\n";
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("vemo-trace");

    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    parser.addHelpOption();
    for (const Switch& option : kSwitches) {
        parser.addOption(QCommandLineOption(option.name, option.on));
        parser.addOption(QCommandLineOption(QString("no-") + option.name, option.off));
    }
    const QCommandLineOption outputOption({"o", "output"}, "Write the output files into DIR.", "DIR");
    const QCommandLineOption xRatioOption("x-ratio", "Scale X by R (a decimal number).", "R");
    const QCommandLineOption yRatioOption("y-ratio", "Scale Y by R (a decimal number).", "R");
    const QCommandLineOption systemOption("system-folder", "Use DIR as the system folder (Vemo.sys, base image, plug-ins).",
                                          "DIR");
    const QCommandLineOption keepOption("keep-temp", "Keep the intermediate files.");
    parser.addOptions({outputOption, xRatioOption, yRatioOption, systemOption, keepOption});
    parser.addPositionalArgument("IMAGE", "Image files to trace.", "IMAGE...");

    if (!parser.parse(QCoreApplication::arguments())) return UsageError(parser.errorText());
    if (parser.isSet("help")) {
        std::cout << parser.helpText().toStdString();
        return 0;
    }
    if (parser.isSet(outputOption) && parser.value(outputOption).isEmpty()) return UsageError("-o needs a folder");
    const QStringList images = parser.positionalArguments();
    if (images.isEmpty()) return UsageError("no image given");
    for (const Switch& option : kSwitches) {
        if (parser.isSet(option.name) && parser.isSet(QString("no-") + option.name)) {
            return UsageError(QString("--%1 and --no-%1 contradict each other").arg(option.name));
        }
    }

    for (const QCommandLineOption* ratio : {&xRatioOption, &yRatioOption}) {
        if (parser.isSet(*ratio) && !IsDecimalNumber(parser.value(*ratio).toStdString())) {
            return UsageError(QString("--%1 needs a decimal number, not '%2'").arg(ratio->names().first(), parser.value(*ratio)));
        }
    }

    const MessageSink toStandardError = [](const std::string& text) { std::cerr << text << '\n'; };
    const MessageSink toStandardOutput = [](const std::string& text) { std::cout << text << std::endl; };
    const StatusSink status = [](std::string_view text) { std::cerr << text << '\n'; };

    std::unique_ptr<TVemo_sysF> settings =
        parser.isSet(systemOption) ? std::make_unique<TVemo_sysF>(parser.value(systemOption).toStdString(), toStandardError)
                                   : std::make_unique<TVemo_sysF>(toStandardError);
    if (settings->CheckSettingsFile() != 0) return kExitFailed;

    TraceOptions options = OptionsFromSettings(settings->GetSettings());
    for (const Switch& option : kSwitches) {
        if (parser.isSet(option.name)) options.*option.field = true;
        if (parser.isSet(QString("no-") + option.name)) options.*option.field = false;
    }
    if (parser.isSet(xRatioOption)) options.xRatioText = parser.value(xRatioOption).toStdString();
    if (parser.isSet(yRatioOption)) options.yRatioText = parser.value(yRatioOption).toStdString();

    const auto outputFolderOf = [&](const std::string& imagePath) {
        return parser.isSet(outputOption) ? parser.value(outputOption).toStdString() : DirectoryOf(imagePath);
    };
    if (options.exportText || options.exportDxf || options.exportA10) {
        // The second image's files would silently replace the first one's.
        std::map<std::filesystem::path, std::string> imageByStem;
        for (const QString& image : images) {
            const std::string imagePath = image.toStdString();
            const auto [place, added] = imageByStem.emplace(OutputStem(outputFolderOf(imagePath), imagePath), imagePath);
            if (!added) {
                return UsageError(QString("%1 and %2 would write the same output files").arg(
                    QString::fromStdString(place->second), image));
            }
        }
    }

    CatchStopSignals();
    const bool keepTemp = parser.isSet(keepOption);
    TVemo_susieF susie(toStandardError);
    int exitStatus = 0;
    for (const QString& image : images) {
        const std::string imagePath = image.toStdString();
        status(texts::kStatusLoading);
        TVemo_comp job(imagePath, outputFolderOf(imagePath), *settings, susie, toStandardError, status);
        job.SetCompletionSink(toStandardOutput);
        std::optional<PrivateFolder> privateFolder;
        if (!keepTemp) {
            privateFolder.emplace();
            if (!privateFolder->Error().empty()) {
                toStandardError(texts::FileFailed(privateFolder->Path(), privateFolder->Error()));
                toStandardError(texts::CannotProcess(imagePath));
                exitStatus = kExitFailed;
                continue;
            }
            job.SetIntermediateFolder(privateFolder->Path());
        }
        if (job.Run(options) != 0) exitStatus = kExitFailed;
        status(texts::kStatusFinished);
    }
    return exitStatus;
}
