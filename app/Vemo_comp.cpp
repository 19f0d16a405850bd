// Vemo_comp: the trace job. Load, trace, time, export, report.
#include "app/Vemo_comp.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>

#include <QImage>

#include "app/Vemo_texts.h"
#include "export/Vemo_compdata.h"
#include "export/Vemo_dxftemplate.h"
#include "image/Vemo_bmpset.h"
#include "trace/Vemotrace_compv.h"
#include "trace/Vemotrace_records.h"

namespace {

bool IsSet(const std::string& flag) { return flag == "1"; }

std::string RatioText(const std::string& stored) { return stored.empty() ? "1.0" : stored; }

BitmapView ViewOf(const QImage& image) {
    BitmapView view;
    if (image.isNull()) return view;
    view.width = image.width();
    view.height = image.height();
    view.pixels = image.constBits();
    view.stride = image.bytesPerLine();
    return view;
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
    QImage bitmap;
    {
        TVemo_bmpset loader(m_imagePath, m_settings, m_susie, m_messages);
        if (loader.GetStatus() != 0) {
            m_messages(texts::CannotProcess(m_imagePath));
            return 1;
        }
        // Shares the pixels with the loader's bitmap, which is released now:
        // the trace never needs a second copy of an A0 scan.
        bitmap = *loader.GetWorkingBitmap();
    }

    const auto t0 = std::chrono::steady_clock::now();
    TVemotrace_compV pipeline(m_imagePath, m_status);
    try {
        pipeline.RunTrace(ViewOf(bitmap));
    } catch (const FileError& error) {
        m_messages(texts::FileFailed(error.Path(), error.Reason()));
        m_messages(texts::CannotProcess(m_imagePath));
        return 1;
    }
    const auto t1 = std::chrono::steady_clock::now();
    m_timeText = FormatElapsed(std::chrono::duration<double>(t1 - t0).count());

    m_result = pipeline.CollectResults();
    m_result.flipX = options.flipX ? 1 : 0;
    m_result.flipY = options.flipY ? 1 : 0;
    m_result.xRatio = ParseNumber(options.xRatioText);
    m_result.yRatio = ParseNumber(options.yRatioText);

    TVemo_compdata data;
    data.SetExportParams(m_result, options.dxfTemplate.empty() ? DxfTemplate() : options.dxfTemplate);
    const std::pair<bool, ExportKind> kinds[] = {
        {options.exportText, ExportKind::Text},
        {options.exportDxf, ExportKind::Dxf},
        {options.exportA10, ExportKind::A10},
    };
    int status = 0;
    for (const auto& [ticked, kind] : kinds) {
        if (!ticked) continue;
        try {
            if (auto written = data.Export(kind, m_imagePath, m_outputFolder)) m_written.push_back(*written);
        } catch (const FileError& error) {
            m_messages(texts::FileFailed(error.Path(), error.Reason()));
            status = 1;
        }
    }
    (m_completion ? m_completion : m_messages)(texts::Traced(m_imagePath, m_timeText));
    return status;
}
