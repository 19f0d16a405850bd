// Vemo_comp: the trace job. Load, trace, time, export, report.
#include "job/Vemo_comp.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Vemo_fileerror.h"
#include "base/Vemo_folderlock.h"
#include "base/Vemo_path.h"
#include "common/Vemo_texts.h"
#include "export/Vemo_compdata.h"
#include "export/Vemo_dxftemplate.h"
#include "image/Vemo_bmpset.h"
#include "trace/Vemotrace_compv.h"
#include "trace/Vemotrace_fit.h"
#include "trace/Vemotrace_join.h"
#include "trace/Vemotrace_records.h"

namespace {

bool IsSet(const std::string& flag) { return flag == "1"; }

// The formats in the order they are written.
std::array<std::pair<bool, ExportKind>, 4> TickedKinds(const TraceOptions& options) {
    return {{
        {options.exportText, ExportKind::Text},
        {options.exportDxf, ExportKind::Dxf},
        {options.exportA10, ExportKind::A10},
        {options.exportSvg, ExportKind::Svg},
    }};
}

// Several findings as one message, one per line.
std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    return text;
}

// A stopped run's intermediate files: half-written, of no use to anyone.
void RemoveIntermediateFiles(const TraceResult& files) {
    for (const std::string* path : {&files.squaresPath, &files.groupsPath, &files.pointsPath, &files.linesPath}) {
        if (!path->empty()) ::unlink(path->c_str());
    }
}

// What the main window's ratio field would show for a stored ratio, and so
// what a run started there would read back. A stored value that is not a
// finite number stays as it is, for the run to refuse.
std::string RatioText(const std::string& stored) {
    const double value = ParseNumber(stored.empty() ? "1.0" : stored);
    return std::isfinite(value) ? FormatNumber(" %.3lf", value) : stored;
}

// The trace, the join step and the fitting step on the join step's ink.
std::shared_ptr<const FitResult> TraceJoinAndFit(TVemotrace_compV& pipeline, PackedBitmap bitmap,
                                                 const TraceOptions& options) {
    std::shared_ptr<FitResult> fitted;
    TVemotrace_join::TraceAndJoin(pipeline, std::move(bitmap), [&](const PackedBitmap& ink) {
        TVemotrace_fit step(pipeline.CollectResults().linesPath, ink,
                            FitOptions{options.fitTolerance, options.snapAngles});
        step.FitLines();
        fitted = std::make_shared<FitResult>(step.TakeResult());
    });
    return fitted;
}

}  // namespace

TraceOptions OptionsFromSettings(const SettingsRecord& settings) {
    TraceOptions options;
    options.flipX = IsSet(settings.xAxis);
    options.flipY = IsSet(settings.yAxis);
    options.xRatioText = RatioText(settings.xRatio);
    options.yRatioText = RatioText(settings.yRatio);
    options.exportText = IsSet(settings.expTxt);
    options.exportDxf = IsSet(settings.expDxf);
    options.exportA10 = IsSet(settings.expA10);
    return options;
}

bool ParseResolution(std::string_view text, double& xDpi, double& yDpi) {
    const auto dpiOf = [](std::string_view part, double& dpi) {
        while (!part.empty() && (part.back() == ' ' || part.back() == '\t')) part.remove_suffix(1);
        if (!IsDecimalNumber(part)) return false;
        dpi = ParseNumber(part);
        return std::isfinite(dpi) && dpi > 0.0;
    };
    const std::size_t comma = text.find(',');
    const std::string_view x = text.substr(0, comma);
    const std::string_view y = comma == std::string_view::npos ? x : text.substr(comma + 1);
    double xValue = 0.0;
    double yValue = 0.0;
    if (!dpiOf(x, xValue) || !dpiOf(y, yValue)) return false;
    xDpi = xValue;
    yDpi = yValue;
    return true;
}

bool IsUsableRatio(double ratio) { return std::isfinite(ratio) && ratio != 0.0; }

bool IsUsableStoredRatio(const std::string& stored) { return IsUsableRatio(ParseNumber(RatioText(stored))); }

std::string FormatElapsed(double seconds) {
    const long long milliseconds = std::llround(std::max(seconds, 0.0) * 1000.0);
    char text[48];
    std::snprintf(text, sizeof text, "time:%lld.%03lld", milliseconds / 1000, milliseconds % 1000);
    return text;
}

TVemo_comp::TVemo_comp(std::string imagePath, std::string outputFolder, TVemo_sysF& settings, TVemo_susieF& susie,
                       MessageSink messages, StatusSink status)
    : m_imagePath(std::move(imagePath)),
      m_outputFolder(std::move(outputFolder)),
      m_settings(settings),
      m_susie(susie),
      m_messages(std::move(messages)),
      m_status(std::move(status)) {}

int TVemo_comp::Run(const TraceOptions& options) {
    // The handlers build their messages anew, which may itself fail when
    // memory is short; nothing may leave Run all the same.
    try {
        try {
            const RunScope scope(m_cancel, m_progress);
            return RunSteps(options);
        } catch (const RunCancelled&) {
            m_result = TraceResult();
            m_timeText.clear();
            m_written.clear();
            m_cancelled = true;
            m_messages(texts::RunStopped(m_imagePath));
        } catch (const std::bad_alloc&) {
            m_result = TraceResult();
            m_timeText.clear();
            Fail(texts::kReasonNoMemory);
        } catch (const FileError& error) {
            m_result = TraceResult();
            m_timeText.clear();
            m_messages(texts::FileFailed(error.Path(), error.Reason()) + "\n" + texts::CannotProcess(m_imagePath));
        } catch (const std::exception& error) {
            m_result = TraceResult();
            m_timeText.clear();
            Fail(error.what());
        } catch (...) {
            m_result = TraceResult();
            m_timeText.clear();
            Fail(texts::kReasonUnknownError);
        }
    } catch (...) {
    }
    return 1;
}

void TVemo_comp::Fail(const std::string& reason) const { m_messages(texts::CannotProcessBecause(m_imagePath, reason)); }

bool TVemo_comp::RatioIsUsable(const char* which, const std::string& text, double& value) const {
    value = ParseNumber(text);
    if (IsUsableRatio(value)) return true;
    Fail(std::isfinite(value) ? texts::RatioZero(which, text) : texts::RatioNotFinite(which, text));
    return false;
}

// The scale of the output unit: the resolution given with the options, or
// else the image's own. Told and false when neither is known.
bool TVemo_comp::ScaleIsKnown(const TraceOptions& options, double imageXDpi, double imageYDpi,
                              OutputScale& scale) const {
    const bool given = options.xDpi > 0.0 && options.yDpi > 0.0;
    const auto found =
        ScaleFor(options.units, given ? options.xDpi : imageXDpi, given ? options.yDpi : imageYDpi);
    if (!found) {
        const char* where = options.resolutionSource != nullptr ? options.resolutionSource : texts::kResolutionOption;
        Fail(texts::ReasonNoResolution(UnitName(options.units), where));
        return false;
    }
    scale = *found;
    return true;
}

// What can be known to fail before the image is read: an image that
// cannot be opened, an output folder that is missing or takes no files.
std::vector<std::string> TVemo_comp::ProblemsBeforeRun(const TraceOptions& options) const {
    std::vector<std::string> problems;
    struct stat image {};
    if (::stat(m_imagePath.c_str(), &image) != 0) {
        problems.push_back(texts::ImageFileMissing(m_imagePath));  // the loader's own texts
    } else if (!S_ISREG(image.st_mode)) {
        problems.push_back(texts::ImageNotAFile(m_imagePath, texts::ReasonNotAFile(image.st_mode)));
    } else if (const int fd = ::open(m_imagePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); fd < 0) {
        problems.push_back(texts::FileFailed(m_imagePath, SystemReason(errno)));
    } else {
        ::close(fd);
    }

    std::vector<std::string> targets;
    for (const auto& [ticked, kind] : TickedKinds(options)) {
        if (ticked) targets.push_back(OutputFilePath(m_imagePath, m_outputFolder, kind));
    }
    if (targets.empty()) return problems;
    const std::string folder = m_outputFolder.empty() ? std::string(".") : m_outputFolder;
    struct stat output {};
    if (::stat(folder.c_str(), &output) != 0 || !S_ISDIR(output.st_mode)) {
        problems.push_back(texts::OutputFolderMissing(m_outputFolder));
    } else if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        const int reason = errno;
        // The safe save writes an existing writable file in place where its
        // folder takes no new files (base/Vemo_safefile.h).
        const bool inPlace = std::all_of(targets.begin(), targets.end(), [](const std::string& target) {
            struct stat file {};
            return ::stat(target.c_str(), &file) == 0 && S_ISREG(file.st_mode) && ::access(target.c_str(), W_OK) == 0;
        });
        if (!inPlace) problems.push_back(texts::OutputFolderNotWritable(m_outputFolder, SystemReason(reason)));
    }
    return problems;
}

bool TVemo_comp::TakeFolderLock(const std::string& folder, TVemo_folderlock& lock) const {
    if (m_lockMode == FolderLockMode::HeldByCaller) return true;
    if (lock.Lock(folder, TVemo_folderlock::Mode::FailIfBusy)) return true;
    if (m_lockMode == FolderLockMode::FailIfBusy) {
        m_messages(texts::FolderBusy(folder.empty() ? std::string(".") : folder));
        m_messages(texts::CannotProcess(m_imagePath));
        return false;
    }
    if (m_waiting) m_waiting(folder.empty() ? std::string(".") : folder);
    return lock.Lock(folder, TVemo_folderlock::Mode::Wait, m_cancel);
}

int TVemo_comp::RunSteps(const TraceOptions& options) {
    double xRatio = 0.0;
    double yRatio = 0.0;
    if (!RatioIsUsable(texts::kXRatio, options.xRatioText, xRatio)) return 1;
    if (!RatioIsUsable(texts::kYRatio, options.yRatioText, yRatio)) return 1;
    if (std::vector<std::string> problems = ProblemsBeforeRun(options); !problems.empty()) {
        problems.push_back(texts::CannotProcess(m_imagePath));
        m_messages(JoinLines(problems));
        return 1;
    }

    // Taken before the image is read: a busy folder is known at once.
    const std::string folder =
        m_intermediateFolder.empty() ? SplitPath(m_imagePath).folder : m_intermediateFolder;
    TVemo_folderlock lock;
    if (!TakeFolderLock(folder, lock)) return 1;

    PackedBitmap bitmap;
    OutputScale scale;
    {
        // The trace needs only the ink: the loader keeps one bit per pixel.
        TVemo_bmpset loader(m_imagePath, m_settings, m_susie, m_messages, WorkingForm::Packed);
        if (loader.GetStatus() != 0) {
            m_messages(texts::CannotProcess(m_imagePath));
            return 1;
        }
        // Checked before the trace, which may take minutes.
        const ImageResolution resolution = loader.GetResolution();
        if (!ScaleIsKnown(options, resolution.xDpi, resolution.yDpi, scale)) return 1;
        // Taken over, not copied: the trace never needs a second copy of an
        // A0 scan.
        bitmap = loader.TakePackedBitmap();
    }
    if (bitmap.IsEmpty()) {
        // The loader reports an empty picture itself; this only guards the
        // output files of an earlier run from a drawing of nothing.
        Fail(texts::kReasonEmptyImage);
        return 1;
    }
    RunCheckpoint(1, 1);  // a run stopped while the image was read ends here

    const auto t0 = std::chrono::steady_clock::now();
    TVemotrace_compV pipeline(m_imagePath, m_status, m_intermediateFolder);
    std::shared_ptr<const FitResult> fitted;
    try {
        // Handed over: the first stage frees the scan before the others need
        // their memory; the join step paints the ink again from the squares.
        if (options.fit) {
            fitted = TraceJoinAndFit(pipeline, std::move(bitmap), options);
        } else if (options.join) {
            TVemotrace_join::TraceAndJoin(pipeline, std::move(bitmap));
        } else {
            pipeline.RunTrace(std::move(bitmap));
        }
        const auto t1 = std::chrono::steady_clock::now();
        m_timeText = FormatElapsed(std::chrono::duration<double>(t1 - t0).count());

        m_result = pipeline.CollectResults();
        m_result.flipX = options.flipX ? 1 : 0;
        m_result.flipY = options.flipY ? 1 : 0;
        m_result.xRatio = xRatio;
        m_result.yRatio = yRatio;
        if (Export(options, scale, fitted) != 0) return 1;
    } catch (const RunCancelled&) {
        // Still under the lock: the files are this run's.
        RemoveIntermediateFiles(pipeline.CollectResults());
        throw;
    }
    (m_completion ? m_completion : m_messages)(texts::Traced(m_imagePath, m_timeText));
    return 0;
}

// Every ticked format, each written beside its target; the targets are
// replaced only once all are written, so a run stopped on the way replaces
// none. A format that cannot be written does not keep the others from being
// written, and every file that failed is named in one message.
int TVemo_comp::Export(const TraceOptions& options, const OutputScale& scale,
                       std::shared_ptr<const FitResult> fitted) {
    TVemo_compdata data;
    data.SetExportParams(m_result, options.dxfTemplate.empty() ? DxfTemplate() : options.dxfTemplate);
    data.SetOutputScale(scale);
    data.SetEntities(std::move(fitted));
    data.StageCommits(true);
    std::vector<std::string> failures;
    std::vector<std::string> written;
    for (const auto& [ticked, kind] : TickedKinds(options)) {
        if (!ticked) continue;
        const std::string path = OutputFilePath(m_imagePath, m_outputFolder, kind);
        if (m_writing) m_writing(path);
        if (RunScope* scope = RunScope::Current()) scope->NewStep();
        try {
            if (data.Export(kind, m_imagePath, m_outputFolder)) written.push_back(path);
        } catch (const FileError& error) {
            failures.push_back(texts::FileFailed(error.Path(), error.Reason()));
        }
    }
    RunCheckpoint(1, 1);  // the last place to stop: from here on targets are replaced
    for (const FileError& error : data.CommitStaged()) {
        failures.push_back(texts::FileFailed(error.Path(), error.Reason()));
        std::erase(written, error.Path());
    }
    m_written.insert(m_written.end(), written.begin(), written.end());
    if (failures.empty()) return 0;
    failures.push_back(texts::CannotProcess(m_imagePath));
    m_messages(JoinLines(failures));
    return 1;
}
