// Vemo_comp: the trace job TVemo_comp, one run of the program's main
// function: load the image, trace it, time the trace, write every ticked
// output format, report completion.
//
// Reads the image (through TVemo_bmpset), writes the intermediate files in
// the image's folder or the folder the caller names (through the pipeline)
// and the output files in the output folder (through TVemo_compdata). The
// options are sampled by the caller when the run starts: the window's
// controls or the command line.
//
// A run never throws: whatever fails inside it (the load, the trace, an
// export, memory running out) ends the run with a message naming the image
// and the reason, and Run returns 1. The program goes on with the next run.
//
// Two runs must never share intermediate files, so the pipeline and the
// export run under the folder lock of the intermediate folder (Vemo_folderlock).
//
// Before anything is loaded the run checks what it can: that the image can
// be opened and that the output folder exists and takes files; all it
// finds is told in one message. A run may be stopped from another thread
// (or a signal handler) through its CancelFlag: the step in progress ends
// at its next checkpoint (base/Vemo_runcontrol.h), the run's intermediate
// files are removed, no output file is replaced (the formats are written
// beside their targets and replace them together at the end), and the
// message says that the run was stopped.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Vemo_runcontrol.h"
#include "common/Vemo_common.h"
#include "common/Vemo_sys.h"
#include "export/Vemo_units.h"
#include "trace/Vemotrace_types.h"

struct FitResult;
class TVemo_folderlock;
class TVemo_susieF;

// The output options of one run, as the user set them.
struct TraceOptions {
    bool flipX = false;
    bool flipY = false;
    std::string xRatioText;  // converted by the atof rules; a run refuses 0 and non-finite values
    std::string yRatioText;
    bool exportText = false;
    bool exportDxf = false;
    bool exportA10 = false;
    bool exportSvg = false;  // the command line's own format; the settings have no key for it
    std::vector<std::string> dxfTemplate;  // the numbered template items; empty: the built-in one
    // Join the traced pieces into clean polylines (TVemotrace_join) before
    // any format is written.
    bool join = false;
    // The unit of every output file. Anything but pixels needs the image's
    // resolution: xDpi and yDpi when they are given (> 0), otherwise the
    // one the image file stores; a run without either fails.
    OutputUnit units = OutputUnit::Px;
    double xDpi = 0.0;
    double yDpi = 0.0;
    // Where the user gives the resolution, named when a run lacks one
    // (texts::kResolutionOption or kResolutionField); null: vemo-trace's --dpi.
    const char* resolutionSource = nullptr;
    // Fit the joined lines into LINE, ARC and CIRCLE entities
    // (TVemotrace_fit); implies join. A tolerance of 0 lets the step choose
    // per line (see FitOptions).
    bool fit = false;
    double fitTolerance = 0.0;
    bool snapAngles = false;
};

// The options stored in the settings: a flag counts only when it is exactly
// "1"; an empty ratio means "1.0". A ratio is taken as the main window
// would run with it: shown with " %.3lf" and read back.
TraceOptions OptionsFromSettings(const SettingsRecord& settings);

// A resolution as the user gives it: "N", or "X,Y" where the axes differ,
// each a decimal number of dots per inch above 0; blanks around a number do
// not count. False, with xDpi and yDpi unchanged, for any other text.
bool ParseResolution(std::string_view text, double& xDpi, double& yDpi);

// Whether a run could use a ratio: a finite number other than 0. A ratio
// of 0 puts the whole drawing on one line, so a run refuses it.
bool IsUsableRatio(double ratio);
// Whether a ratio stored in the settings (XRATIO, YRATIO) is usable as
// OptionsFromSettings hands it on: "abc", "nan" and "0.0004" read as 0
// there, "1e400" is no finite number; empty means 1.0 and is usable.
bool IsUsableStoredRatio(const std::string& stored);

// The elapsed time as the completion message shows it: "time:" + whole
// seconds + "." + milliseconds (three digits), rounded to the millisecond.
std::string FormatElapsed(double seconds);

// How a run takes the lock on its intermediate folder.
enum class FolderLockMode {
    Wait,          // wait for another run in that folder to finish
    FailIfBusy,    // end the run with the "busy" message instead
    HeldByCaller,  // the caller holds the lock already and keeps it
};

class TVemo_comp {
public:
    TVemo_comp(std::string imagePath, std::string outputFolder, TVemo_sysF& settings, TVemo_susieF& susie,
               MessageSink messages, StatusSink status);
    TVemo_comp(const TVemo_comp&) = delete;
    TVemo_comp& operator=(const TVemo_comp&) = delete;

    // 0 when the image was traced and every ticked file written; 1 when the
    // image could not be loaded or traced, or a file could not be written.
    // Every failure has been told to the user through the message sink;
    // then no completion message is given. Never throws.
    int Run(const TraceOptions& options);

    // Where the intermediate files go; empty (the default) is the image's folder.
    void SetIntermediateFolder(std::string folder) { m_intermediateFolder = std::move(folder); }
    void SetFolderLock(FolderLockMode mode) { m_lockMode = mode; }

    // Stopping the run: the flag is read at every checkpoint; the caller
    // keeps it alive for the run.
    void SetCancelFlag(const CancelFlag* cancel) { m_cancel = cancel; }
    // Each step's progress (0 to 100): the stage groups, then each file.
    void SetProgressSink(ProgressSink progress) { m_progress = std::move(progress); }
    // Told the path of each output file before it is written.
    void SetWritingSink(MessageSink writing) { m_writing = std::move(writing); }
    // Told the folder when the run must wait for another run's lock there.
    void SetWaitingSink(MessageSink waiting) { m_waiting = std::move(waiting); }
    bool WasCancelled() const { return m_cancelled; }

    // Where the completion message goes; without one it goes with the
    // other messages (the command line prints it to standard output).
    void SetCompletionSink(MessageSink completion) { m_completion = std::move(completion); }

    TraceResult GetResult() const { return m_result; }
    const std::vector<std::string>& WrittenFiles() const { return m_written; }

private:
    int RunSteps(const TraceOptions& options);
    std::vector<std::string> ProblemsBeforeRun(const TraceOptions& options) const;
    bool TakeFolderLock(const std::string& folder, TVemo_folderlock& lock) const;
    int Export(const TraceOptions& options, const OutputScale& scale, std::shared_ptr<const FitResult> fitted);
    bool RatioIsUsable(const char* which, const std::string& text, double& value) const;
    bool ScaleIsKnown(const TraceOptions& options, double imageXDpi, double imageYDpi, OutputScale& scale) const;
    void Fail(const std::string& reason) const;

    std::string m_imagePath;
    std::string m_outputFolder;
    TVemo_sysF& m_settings;
    TVemo_susieF& m_susie;
    MessageSink m_messages;
    StatusSink m_status;
    MessageSink m_completion;
    std::string m_intermediateFolder;
    FolderLockMode m_lockMode = FolderLockMode::Wait;
    std::string m_timeText;
    TraceResult m_result;
    std::vector<std::string> m_written;
    const CancelFlag* m_cancel = nullptr;
    ProgressSink m_progress;
    MessageSink m_writing;
    MessageSink m_waiting;
    bool m_cancelled = false;
};
