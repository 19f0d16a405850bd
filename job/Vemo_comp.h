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
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/Vemo_common.h"
#include "common/Vemo_sys.h"
#include "trace/Vemotrace_types.h"

class TVemo_susieF;

// The output options of one run, as the user set them.
struct TraceOptions {
    bool flipX = false;
    bool flipY = false;
    std::string xRatioText;  // converted by the atof rules, unchecked
    std::string yRatioText;
    bool exportText = false;
    bool exportDxf = false;
    bool exportA10 = false;
    bool exportSvg = false;  // the command line's own format; the settings have no key for it
    std::vector<std::string> dxfTemplate;  // the numbered template items; empty: the built-in one
    // Join the traced pieces into clean polylines (TVemotrace_join) before
    // any format is written.
    bool join = false;
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

    // Where the completion message goes; without one it goes with the
    // other messages (the command line prints it to standard output).
    void SetCompletionSink(MessageSink completion) { m_completion = std::move(completion); }

    TraceResult GetResult() const { return m_result; }
    const std::vector<std::string>& WrittenFiles() const { return m_written; }

private:
    int RunSteps(const TraceOptions& options);
    bool RatioIsUsable(const char* which, const std::string& text, double& value) const;
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
};
