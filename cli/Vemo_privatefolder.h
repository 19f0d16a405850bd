// Vemo_privatefolder: the folder of one vemo-trace run's own for the
// intermediate files of one image, so that runs in one image folder never
// wait for each other.
//
// The folder is created with mkdtemp under the system's temporary folder
// ($TMPDIR, else /tmp) and removed with everything in it when the object
// goes, traced or not; Ctrl-C, kill and hang-up remove it too (see
// CatchStopSignals). A run killed outright (SIGKILL, the OOM killer, a
// power cut) can remove nothing, so every run holds an flock on its folder
// while it lives, and the next run removes the folders that nobody holds
// and that have not changed for a while.
#pragma once

#include <string>

#include "base/Vemo_folderlock.h"

class TVemo_privatefolder {
public:
    // Never throws: a folder that cannot be made leaves Error() set.
    TVemo_privatefolder();
    ~TVemo_privatefolder();
    TVemo_privatefolder(const TVemo_privatefolder&) = delete;
    TVemo_privatefolder& operator=(const TVemo_privatefolder&) = delete;

    // The folder (or the pattern that could not be made).
    const std::string& Path() const { return m_path; }
    // Empty, or why the folder could not be made.
    const std::string& Error() const { return m_error; }

    // Removes the current private folder's files and the temporary files
    // of the output files being saved (RemoveUnfinishedSaves) before
    // SIGINT, SIGTERM and SIGHUP end the process.
    static void CatchStopSignals();
    // What that handler does, for a process that ends another way before
    // the folder's owner can (a plug-in calling exit). Async-signal-safe.
    static void RemoveNow() noexcept;

    // The prefix of every private folder's name, followed by six letters.
    static constexpr const char* kNamePrefix = "vemo-trace-";
    // How long a folder nobody holds must have stood unchanged before it
    // counts as left behind: a run takes its lock a moment after mkdtemp.
    static constexpr int kAbandonedAfterSeconds = 60;

private:
    std::string m_path;
    std::string m_error;
    TVemo_folderlock m_lock;
};

// Removes the private folders in `tempFolder` that a killed run left:
// named like ours, owned by this user, real folders (never a link), not
// held by a living run and unchanged for kAbandonedAfterSeconds. Only the
// files directly inside are removed, never anything a link points to.
void RemoveAbandonedPrivateFolders(const std::string& tempFolder);
