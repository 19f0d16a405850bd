// Vemo_folderlock: TVemo_folderlock, the lock on a folder's intermediate
// files.
//
// The intermediate files of a trace have fixed names in their folder, so
// two runs in one folder would overwrite each other's files. A run holds
// this lock while it writes and reads them, and the main window holds it
// for as long as the files of its last run are in use. The lock is an
// exclusive flock on the folder itself: no lock file is left behind, the
// system drops it when the process dies, and it works between processes
// and between two locks of one process alike.
//
// On a file system without flock (some network mounts) the lock cannot be
// had; the run then goes on unlocked, as before there was a lock at all.
#pragma once

#include <string>

class CancelFlag;

class TVemo_folderlock {
public:
    enum class Mode {
        Wait,        // block until the holder lets go
        FailIfBusy,  // give up at once when another holds it
    };

    TVemo_folderlock() = default;
    ~TVemo_folderlock();
    TVemo_folderlock(TVemo_folderlock&& other) noexcept;
    TVemo_folderlock& operator=(TVemo_folderlock&& other) noexcept;
    TVemo_folderlock(const TVemo_folderlock&) = delete;
    TVemo_folderlock& operator=(const TVemo_folderlock&) = delete;

    // Takes the lock on `folder` ("" is the current directory), letting go
    // of any lock held before. True when held; false only in FailIfBusy
    // mode, when another run holds it. Throws FileError when the folder
    // cannot be opened. A wait ends with RunCancelled when a signal
    // interrupts it after `cancel` was raised.
    bool Lock(const std::string& folder, Mode mode, const CancelFlag* cancel = nullptr);
    void Unlock();
    bool IsHeld() const { return m_fd >= 0; }
    const std::string& Folder() const { return m_folder; }

private:
    int m_fd = -1;
    std::string m_folder;
};
