// What the host allocates for a plug-in's picture: nothing before the
// block's size is checked against the header, and no second full copy of
// a colour picture on the way into the packed working bitmap.
//
// The test program's operator new is replaced by one that notes the
// largest single request. Plug-ins allocate their blocks with malloc, so
// what is noted is the host's own memory.
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QImage>

#include "common/Vemo_sys.h"
#include "image/Vemo_bmpset.h"
#include "image/Vemo_susie.h"
#include "image_test_support.h"

namespace {

std::atomic<std::size_t> g_largestRequest{0};

void* Noted(std::size_t size) {
    std::size_t seen = g_largestRequest.load(std::memory_order_relaxed);
    while (size > seen && !g_largestRequest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* block = Noted(size)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Noted(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Noted(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace {

class PluginMemory : public ::testing::Test {
protected:
    PluginMemory() {
        MakeSystemFolder(m_temp.Path() / "Vemosys");
        m_image = m_temp.File("picture.png");
    }

    // The largest single allocation of one load of the picture.
    std::size_t LargestAllocationOfLoad(WorkingForm form, int& status) {
        m_messages.clear();
        const MessageSink sink = [this](const std::string& text) { m_messages.push_back(text); };
        TVemo_sysF settings((m_temp.Path() / "Vemosys").string(), sink);
        TVemo_susieF susie(sink);
        g_largestRequest = 0;
        {
            TVemo_bmpset loader(m_image, settings, susie, sink, form);
            status = loader.GetStatus();
        }
        return g_largestRequest.load();
    }

    TempFolder m_temp;
    std::string m_image;
    std::vector<std::string> m_messages;
};

// Catches: the host allocating the picture a lying header claims (30000 x
// 30000 pixels in a 16-byte block) before it finds the block too small.
TEST_F(PluginMemory, AHeaderLargerThanItsBlockIsRefusedBeforeAnyLargeAllocation) {
    const std::string fake = std::string(VEMO_FAKE_SPI_DIR) + "/fake_lying_header.spi";
    WriteBytes(m_image, {'F', 'A', 'K', 'E'});
    SystemFolderLayout layout;
    layout.pngSpi = "../fake.spi";
    MakeSystemFolder(m_temp.Path() / "Vemosys", layout);
    std::filesystem::copy_file(fake, m_temp.File("fake.spi"));
    for (const WorkingForm form : {WorkingForm::Packed, WorkingForm::Indexed}) {
        int status = 0;
        const std::size_t largest = LargestAllocationOfLoad(form, status);
        EXPECT_EQ(status, 1);
        EXPECT_LT(largest, std::size_t{1} << 20) << "the host allocated " << largest << " bytes";
        ASSERT_EQ(m_messages.size(), 1u);
        EXPECT_NE(m_messages[0].find("プラグインが返した画像データが正しくありません"), std::string::npos) << m_messages[0];
    }
}

// Catches: a colour picture copied whole (four bytes per pixel) in the host
// before it is packed, which doubled the memory of an RGB scan.
TEST_F(PluginMemory, AColourPictureIsPackedWithoutAFullCopy) {
    constexpr int kWidth = 1600;
    constexpr int kHeight = 1000;
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(qRgb(250, 245, 240));
    for (int x = 0; x < kWidth; ++x) image.setPixel(x, kHeight / 2, qRgb(200, 0, 0));
    ASSERT_TRUE(image.save(QString::fromStdString(m_image), "PNG"));
    int status = 1;
    const std::size_t largest = LargestAllocationOfLoad(WorkingForm::Packed, status);
    ASSERT_EQ(status, 0) << (m_messages.empty() ? "" : m_messages.front());
    // The plug-in's 24-bit block is 4.8 MB; a copy in the host, 6.4 MB.
    const std::size_t block = std::size_t{kWidth} * 3 * kHeight;
    EXPECT_LT(largest, block / 8) << "the host allocated " << largest << " bytes";
}

}  // namespace
