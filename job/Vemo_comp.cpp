// Vemo_comp: the trace job. Load, trace, time, export, report.
#include "job/Vemo_comp.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <utility>

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
            return RunSteps(options);
        } catch (const std::bad_alloc&) {
            m_result = TraceResult();
            m_timeText.clear();
            Fail(texts::kReasonNoMemory);
        } catch (const FileError& error) {
            m_result = TraceResult();
            m_timeText.clear();
            m_messages(texts::FileFailed(error.Path(), error.Reason()));
            m_messages(texts::CannotProcess(m_imagePath));
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
    if (std::isfinite(value)) return true;
    Fail(texts::RatioNotFinite(which, text));
    return false;
}

int TVemo_comp::RunSteps(const TraceOptions& options) {
    double xRatio = 0.0;
    double yRatio = 0.0;
    if (!RatioIsUsable(texts::kXRatio, options.xRatioText, xRatio)) return 1;
    if (!RatioIsUsable(texts::kYRatio, options.yRatioText, yRatio)) return 1;

    PackedBitmap bitmap;
    {
        // The trace needs only the ink: the loader keeps one bit per pixel.
        TVemo_bmpset loader(m_imagePath, m_settings, m_susie, m_messages, WorkingForm::Packed);
        if (loader.GetStatus() != 0) {
            m_messages(texts::CannotProcess(m_imagePath));
            return 1;
        }
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

    const std::string folder =
        m_intermediateFolder.empty() ? SplitPath(m_imagePath).folder : m_intermediateFolder;
    TVemo_folderlock lock;
    if (m_lockMode != FolderLockMode::HeldByCaller) {
        const auto mode =
            m_lockMode == FolderLockMode::FailIfBusy ? TVemo_folderlock::Mode::FailIfBusy : TVemo_folderlock::Mode::Wait;
        if (!lock.Lock(folder, mode)) {
            m_messages(texts::FolderBusy(folder.empty() ? std::string(".") : folder));
            m_messages(texts::CannotProcess(m_imagePath));
            return 1;
        }
    }

    const auto t0 = std::chrono::steady_clock::now();
    TVemotrace_compV pipeline(m_imagePath, m_status, m_intermediateFolder);
    // Handed over: the first stage frees the scan before the others need
    // their memory; the join step paints the ink again from the squares.
    std::shared_ptr<const FitResult> fitted;
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

    TVemo_compdata data;
    data.SetExportParams(m_result, options.dxfTemplate.empty() ? DxfTemplate() : options.dxfTemplate);
    data.SetEntities(fitted);
    const std::pair<bool, ExportKind> kinds[] = {
        {options.exportText, ExportKind::Text},
        {options.exportDxf, ExportKind::Dxf},
        {options.exportA10, ExportKind::A10},
        {options.exportSvg, ExportKind::Svg},
    };
    int status = 0;
    for (const auto& [ticked, kind] : kinds) {
        if (!ticked) continue;
        // A format that cannot be written does not keep the others from being written.
        try {
            if (auto written = data.Export(kind, m_imagePath, m_outputFolder)) m_written.push_back(*written);
        } catch (const FileError& error) {
            m_messages(texts::FileFailed(error.Path(), error.Reason()));
            status = 1;
        }
    }
    if (status != 0) {
        m_messages(texts::CannotProcess(m_imagePath));
        return status;
    }
    (m_completion ? m_completion : m_messages)(texts::Traced(m_imagePath, m_timeText));
    return 0;
}
