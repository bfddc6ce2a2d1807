// The pictures: PNG and GIF decoded again and compared pixel by pixel with the machine's picture,
// and the GIF's timing.
#include "tools/drovask-run/pictures.hpp"
#include "tools/drovask-run/runner.hpp"
#include "tools/files/output_file.hpp"

#include "base/exception.hpp"
#include "machine/programs.hpp"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <png.h>

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class Pictures : public testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("drovask_pictures_" + std::to_string(getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    // The demo's pictures after every `apart` frames: attract mode, a coin and a game under way.
    static std::vector<Drovask::Screen> demo_pictures(int count, int apart) {
        Drovask::Runner runner(Drovask::demo_rom());
        std::vector<Drovask::Screen> pictures;
        for (int frame = 1; frame <= count * apart; ++frame) {
            runner.hold('C', frame > 40 && frame < 45);
            runner.hold('Q', frame > 50 && frame < 55);
            runner.hold('S', frame > 70);
            runner.hold('A', frame > 80);
            runner.frame();
            if (frame % apart == 0) {
                pictures.emplace_back();
                Drovask::convert_screen(runner.board.processor, pictures.back());
            }
        }
        return pictures;
    }

    fs::path folder;
};

TEST_F(Pictures, PngDecodesToTheMachinesPicture) {
    const Drovask::Screen screen = demo_pictures(1, 120).back();
    {
        Tools::Output_File file(folder / "shot.png");
        Drovask::write_png(screen, file.stream());
        file.commit();
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&image, (folder / "shot.png").c_str()), 0)
        << image.message;
    EXPECT_EQ(image.width, 224u);
    EXPECT_EQ(image.height, 256u);
    image.format = PNG_FORMAT_GRAY;
    Drovask::Screen decoded{};
    ASSERT_NE(png_image_finish_read(&image, nullptr, decoded.data(), 0, nullptr), 0)
        << image.message;
    EXPECT_EQ(decoded, screen);
    EXPECT_GT(std::count(screen.begin(), screen.end(), 255), 1000) << "a picture with something";
}

// Each picture of the animation, decoded and laid over the ones before it as a viewer does,
// is the machine's picture at that frame.
TEST_F(Pictures, GifDecodesToTheMachinesPicturesInTime) {
    constexpr int apart = 3;
    const auto pictures = demo_pictures(60, apart);
    {
        Tools::Output_File file(folder / "run.gif");
        Drovask::Gif_Writer gif(file.stream(), apart);
        for (const auto& picture : pictures) {
            gif.add(picture);
        }
        gif.add(pictures.back()); // an unchanged picture still counts
        EXPECT_EQ(gif.pictures(), pictures.size() + 1);
        gif.finish();
        file.commit();
    }
    int error = 0;
    GifFileType* gif = DGifOpenFileName((folder / "run.gif").c_str(), &error);
    ASSERT_NE(gif, nullptr) << GifErrorString(error);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK) << GifErrorString(gif->Error);
    EXPECT_EQ(gif->SWidth, 224);
    EXPECT_EQ(gif->SHeight, 256);
    ASSERT_EQ(static_cast<std::size_t>(gif->ImageCount), pictures.size() + 1);

    std::vector<std::uint8_t> canvas(224 * 256, 0);
    int total_delay = 0;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        const ColorMapObject* colours = gif->SColorMap;
        const GifImageDesc& at = image.ImageDesc;
        for (int y = 0; y < at.Height; ++y) {
            for (int x = 0; x < at.Width; ++x) {
                const GifColorType colour = colours->Colors[image.RasterBits[y * at.Width + x]];
                canvas[static_cast<std::size_t>((at.Top + y) * 224 + at.Left + x)] = colour.Red;
            }
        }
        const auto& expected =
            pictures[std::min<std::size_t>(static_cast<std::size_t>(i), pictures.size() - 1)];
        ASSERT_TRUE(std::equal(canvas.begin(), canvas.end(), expected.begin())) << "picture " << i;
        GraphicsControlBlock control{};
        ASSERT_EQ(DGifSavedExtensionToGCB(gif, i, &control), GIF_OK);
        total_delay += control.DelayTime;
        if (i > 0 && i < 5) {
            EXPECT_LT(at.Width * at.Height, 224 * 256 / 4) << "only the change is stored";
        }
    }
    EXPECT_EQ(total_delay, (gif->ImageCount * apart * 100 + 30) / 60) << "keeps the machine's time";
    DGifCloseFile(gif, &error);
}

TEST(Gif_Delay, KeepsTimeWithTheMachineAtAnyDistance) {
    const std::uint64_t distances[] = {2, 3, 4, 7, Drovask::longest_gif_frames_apart};
    for (const std::uint64_t apart : distances) {
        std::uint64_t sum = 0;
        for (std::uint64_t i = 0; i < 600; ++i) {
            const auto delay = Drovask::gif_delay(i, apart);
            EXPECT_GE(std::uint64_t{delay} * 3, apart * 5 - 2) << apart;
            EXPECT_LE(std::uint64_t{delay} * 3, apart * 5 + 2) << apart;
            sum += delay;
        }
        EXPECT_EQ(sum, 600 * apart * 100 / 60) << apart;
    }
}

// Browsers stretch a delay of 1 to 10: every frame's picture lasts 2 hundredths instead of the
// 5/3 it stands for. Beyond the longest delay a GIF holds, pictures last that long.
TEST(Gif_Delay, StaysWithinWhatViewersShow) {
    for (std::uint64_t i = 0; i < 6; ++i) {
        EXPECT_EQ(Drovask::gif_delay(i, 1), 2) << i;
        EXPECT_EQ(Drovask::gif_delay(i, Drovask::longest_gif_frames_apart + 1), 65535) << i;
    }
}

} // namespace
