// TVemo_batch with traces of the test's making: images that finish in the
// reverse of their order, one that fails and one that is killed.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/Vemo_batch.h"
#include "test_support.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "an unfinished last line";
    return lines;
}

// Catches completion lines printed in finishing order, texts of two images
// interleaved, a failure or a killed child counted as success, and a
// killed child's image left without a word.
TEST(Batch, PrintsEachImageWholeInArgumentOrderWhateverOrderTheyFinishIn) {
    TempFolder folder;
    const std::vector<std::string> images = {"a", "b", "c", "d", "e", "f"};
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The batch's parent, with its standard streams in files.
        const int out = ::open(folder.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(folder.File("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        TVemo_batch batch(images, 3, false);
        const std::size_t failed = batch.Run([&](std::size_t index, const BatchSinks& sinks) {
            // The first images take longest, so later ones finish first;
            // each sends its texts in two halves with a pause between.
            const auto pause = std::chrono::milliseconds(30 * (images.size() - index));
            sinks.error("start " + images[index]);
            std::this_thread::sleep_for(pause);
            if (images[index] == "d") ::kill(::getpid(), SIGKILL);
            sinks.error("end " + images[index]);
            if (images[index] == "b") return 1;
            sinks.output("done " + images[index]);
            return 0;
        });
        ::_exit(static_cast<int>(failed));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2) << "b failed and d was killed";

    EXPECT_EQ(Lines(ReadFile(folder.File("out"))),
              (std::vector<std::string>{"done a", "done c", "done e", "done f"}));
    EXPECT_EQ(Lines(ReadFile(folder.File("err"))),
              (std::vector<std::string>{"start a", "end a", "start b", "end b", "start c", "end c", "start d",
                                        "dのトレースが途中で終了しました。（signal 9 (Killed)）", "dは処理できません。",
                                        "start e", "end e", "start f", "end f"}));
}

}  // namespace
