// Vemo_safefile: TVemo_safefile, the one way the program saves a file.
//
// A save must never leave a half-written file where a good one was. The
// text goes to a temporary file ".vemo-<name>.XXXXXX.tmp" beside the target
// (so that the rename never crosses file systems), which is flushed to
// disk and renamed over the target by Commit; the target keeps its old
// permissions. Destroyed without Commit (an exception on the way), the
// temporary file is removed and the target stays as it was.
//
// The writer holds an flock on its temporary file. A temporary file of the
// same target that nobody holds was left by a killed process, and the
// next save of that target removes it.
//
// A folder the user cannot write to cannot hold the temporary file. When
// the target itself exists and is writable there, the save writes it in
// place instead: the text is kept in memory and written over the target
// only at Commit, so that only a failure of the write itself can leave the
// target damaged, and such a failure is still reported.
//
// A target that exists but is not writable is refused: a file the user
// made read-only is not replaced behind their back. Every failure throws
// FileError naming the target.
//
// A process ended by a signal runs no destructor, so each temporary file
// under way is also listed where a signal handler can find it without
// allocating: RemoveUnfinishedSaves removes them before the process ends.
#pragma once

#include <string>
#include <string_view>

class TVemo_safefile {
public:
    explicit TVemo_safefile(std::string targetPath);
    ~TVemo_safefile();
    TVemo_safefile(const TVemo_safefile&) = delete;
    TVemo_safefile& operator=(const TVemo_safefile&) = delete;

    void Write(std::string_view text);
    // The target now holds exactly what was written.
    void Commit();

private:
    bool CreateTemporary(const std::string& folder, const std::string& prefix);
    void Flush();

    std::string m_target;
    std::string m_tempPath;
    int m_listed = -1;  // the temporary file's entry for RemoveUnfinishedSaves
    int m_fd = -1;
    std::string m_buffer;
    bool m_inPlace = false;
    bool m_committed = false;
};

// Saves `contents` as the whole of `path` through TVemo_safefile.
void SaveFileSafely(const std::string& path, std::string_view contents);

// Removes the temporary files of the saves this process has under way,
// for a handler of SIGINT, SIGTERM or SIGHUP that ends the process: only
// async-signal-safe calls, and only files this process created (a file is
// listed once it is created and unlisted before it is renamed or removed,
// and those steps are shielded from the three signals in the thread that
// takes them). A save interrupted this way must not go on: its target is
// left as it was before the save.
void RemoveUnfinishedSaves() noexcept;
