// vemo-trace: the trace job from a shell, for scripts and batches.
//
// Traces each IMAGE with the settings of Vemo.sys, overridden by the
// options given; several images are traced N at a time (-j), each in a
// process of its own (cli/Vemo_batch.h). Stage texts and failures go to
// standard error, the completion message of each image to standard output,
// each image's texts together and in the order of the arguments; with -q
// only failures. Exit status: 0 when every image was traced and every file
// written, 1 when anything failed, 2 for a usage error. It is about the
// files: standard output or error closed early (a pipe into head) changes
// neither what is written nor the status.
//
// Links no Qt: scripts start one process per image, and loading the
// framework's libraries would cost more than tracing a small page.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "base/Vemo_fileerror.h"
#include "base/Vemo_path.h"
#include "cli/Vemo_batch.h"
#include "cli/Vemo_cmdline.h"
#include "cli/Vemo_privatefolder.h"
#include "common/Vemo_sys.h"
#include "common/Vemo_texts.h"
#include "image/Vemo_susie.h"
#include "job/Vemo_comp.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

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

// A reader that goes away (a pipe into head) or a file-size limit must not
// end the run with a signal before its files are written and its private
// folder removed: the writes fail instead, a lost text harmlessly, a file
// with a message naming it.
void IgnoreOutputSignals() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

// Empty when the -o folder can take the files; else the message. Checked
// before any trace, so that a typo costs no trace of an A0 scan.
std::string OutputFolderProblem(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return texts::OutputFolderUnusable(folder, SystemReason(errno));
    if (!S_ISDIR(info.st_mode)) return texts::OutputFolderUnusable(folder, texts::kReasonNotAFolder);
    return std::string();
}

// The image being traced while its trace is under way. A plug-in that
// ends the process with exit() would otherwise end a one-image run with
// status 0, no word and the private folder left, and a batch's trace
// process without removing its private folder.
const char* g_imageUnderWay = nullptr;
bool g_oneImageRun = false;

void FailImageEndedUnderWay(int exitStatus, void*) {
    if (g_imageUnderWay == nullptr) return;
    TVemo_privatefolder::RemoveNow();
    // In a batch the trace process's parent tells the failure, since no
    // result came; _exit also leaves the parent's objects alone.
    if (!g_oneImageRun) ::_exit(exitStatus);
    const std::string text = texts::TraceAborted(g_imageUnderWay, texts::ReasonEndedWithoutResult(exitStatus)) + "\n" +
                             texts::CannotProcess(g_imageUnderWay) + "\n";
    (void)!::write(STDERR_FILENO, text.data(), text.size());
    ::_exit(kExitFailed);
}

// Marks an image's trace as under way for as long as it lives.
class ImageUnderWay {
public:
    explicit ImageUnderWay(const std::string& imagePath) { g_imageUnderWay = imagePath.c_str(); }
    ~ImageUnderWay() { g_imageUnderWay = nullptr; }
    ImageUnderWay(const ImageUnderWay&) = delete;
    ImageUnderWay& operator=(const ImageUnderWay&) = delete;
};

// Ctrl-C and kill stop an image's run the way the window's "中止" does: the
// job ends at its next checkpoint, removes its intermediate files and
// replaces no output file; then the process ends as the signal would have
// ended it. A second signal does not wait for the checkpoint: the handler
// that was there before (the private folder's) runs at once.
CancelFlag g_stopRequested;
volatile sig_atomic_t g_stopSignal = 0;
struct sigaction g_beforeStop[2];
constexpr int kStopSignals[2] = {SIGINT, SIGTERM};

void RequestStop(int signalNumber) {
    const int slot = signalNumber == SIGINT ? 0 : 1;
    if (g_stopRequested.IsRequested()) {
        ::sigaction(signalNumber, &g_beforeStop[slot], nullptr);
        ::raise(signalNumber);
        return;
    }
    g_stopSignal = signalNumber;
    g_stopRequested.Request();
}

// Installed per image (in a batch, in the image's own process). No
// SA_RESTART: a wait for a folder's lock must see the signal.
void StopRunsOnSignals() {
    static bool installed = false;  // twice would chain the handler to itself
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    for (int slot = 0; slot < 2; ++slot) ::sigaction(kStopSignals[slot], &action, &g_beforeStop[slot]);
}

// After a stopped run has cleaned up: end by the signal that stopped it.
void EndAsStopped() {
    if (g_stopSignal == 0) return;
    ::signal(g_stopSignal, SIG_DFL);
    ::raise(g_stopSignal);
}

}  // namespace

int main(int argc, char** argv) {
    IgnoreOutputSignals();
    TraceCommand command;
    const std::string error = ReadTraceCommand(argc, argv, ProcessorCount(), command);
    if (!error.empty()) return UsageError(error);
    if (command.help) {
        std::cout << HelpText(argc > 0 ? argv[0] : "vemo-trace");
        return 0;
    }
    const CommandLine& parser = command.line;
    const std::vector<std::string>& images = parser.images;
    const bool quiet = command.quiet;

    const MessageSink toStandardError = [](const std::string& text) { std::cerr << text << '\n'; };

    std::unique_ptr<TVemo_sysF> settings =
        parser.IsSet("system-folder") ? std::make_unique<TVemo_sysF>(parser.Value("system-folder"), toStandardError)
                                      : std::make_unique<TVemo_sysF>(toStandardError);
    if (settings->CheckSettingsFile() != 0) return kExitFailed;

    TraceOptions options = OptionsFromSettings(settings->GetSettings());
    // A ratio from Vemo.sys that reads as 0 or as no number is refused
    // here, where its file and key can be named; the run would only say
    // that the ratio cannot be used.
    {
        const SettingsRecord stored = settings->GetSettings();
        const std::tuple<const char*, const char*, const std::string*> storedRatios[] = {
            {"x-ratio", "XRATIO", &stored.xRatio}, {"y-ratio", "YRATIO", &stored.yRatio}};
        for (const auto& [option, key, text] : storedRatios) {
            if (parser.IsSet(option) || IsUsableStoredRatio(*text)) continue;
            toStandardError(texts::StoredRatioUnusable(settings->SettingsPath(), key, *text));
            return kExitFailed;
        }
    }
    ApplyCommandLine(parser, options);

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
        if (parser.IsSet("output")) {
            const std::string problem = OutputFolderProblem(parser.Value("output"));
            if (!problem.empty()) {
                toStandardError(problem);
                return kExitFailed;
            }
        }
    }

    const bool keepTemp = parser.IsSet("keep-temp");
    const bool noWait = parser.IsSet("no-wait");
    // In a batch each image's process catches the signals for its own
    // private folder; the batch's children get them with the whole group.
    TVemo_privatefolder::CatchStopSignals();

    ::on_exit(FailImageEndedUnderWay, nullptr);
    // One image's whole run; in a batch, in the image's own process.
    const auto traceOne = [&](const std::string& imagePath, const MessageSink& errors, const MessageSink& output) {
        const ImageUnderWay underWay(imagePath);
        const StatusSink status = [&](std::string_view text) {
            if (!quiet) errors(std::string(text));
        };
        TVemo_susieF susie(errors);
        status(texts::kStatusLoading);
        TVemo_comp job(imagePath, outputFolderOf(imagePath), *settings, susie, errors, status);
        // Quiet: only failures are told.
        job.SetCompletionSink(quiet ? MessageSink([](const std::string&) {}) : output);
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
        if (keepTemp) {
            job.SetFolderLock(noWait ? FolderLockMode::FailIfBusy : FolderLockMode::Wait);
            job.SetWaitingSink([&](const std::string& folder) {
                errors("vemo-trace waits for the other run in " + folder + " to finish (--no-wait fails instead)");
            });
        }
        StopRunsOnSignals();
        job.SetCancelFlag(&g_stopRequested);
        const int result = job.Run(options) == 0 ? 0 : kExitFailed;
        if (job.WasCancelled()) {
            privateFolder.reset();
            EndAsStopped();
            return kExitFailed;
        }
        status(texts::kStatusFinished);
        return result;
    };

    if (images.size() == 1) {
        const MessageSink toStandardOutput = [](const std::string& text) { std::cout << text << std::endl; };
        g_oneImageRun = true;
        return traceOne(images.front(), toStandardError, toStandardOutput);
    }
    const bool showProgress = !quiet && ::isatty(STDERR_FILENO) == 1;
    TVemo_batch batch(images, command.jobs, showProgress);
    const std::size_t failed = batch.Run([&](std::size_t index, const BatchSinks& sinks) {
        return traceOne(images[index], sinks.error, sinks.output);
    });
    return failed == 0 ? 0 : kExitFailed;
}
