#include "tools/drovask-run/pictures.hpp"

#include "base/exception.hpp"

#include <gif_lib.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <string>

namespace Drovask {

namespace {

constexpr int width = static_cast<int>(screen_size.width);
constexpr int height = static_cast<int>(screen_size.height);

[[noreturn]] void fail(const std::string& message) {
    throw Tavrin::Exception{message};
}

} // namespace

void write_png(const Screen& screen, std::FILE* file) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = screen_size.width;
    image.height = screen_size.height;
    image.format = PNG_FORMAT_GRAY;
    if (png_image_write_to_stdio(&image, file, 0, screen.data(), 0, nullptr) == 0) {
        const std::string message = image.message;
        png_image_free(&image);
        fail("could not write the PNG picture: " + message);
    }
}

std::uint16_t gif_delay(std::uint64_t index, std::uint64_t frames_apart) {
    // Picture i ends at (i + 1) * frames_apart / 60 s, that is * 100 / 60 = * 5 / 3 hundredths.
    const auto end = [frames_apart](std::uint64_t i) { return (i * frames_apart * 5 + 1) / 3; };
    return static_cast<std::uint16_t>(
        std::clamp<std::uint64_t>(end(index + 1) - end(index), shortest_gif_delay, 65535));
}

void Gif_Writer::Closer::operator()(GifFileType* gif) const {
    int error = 0;
    EGifCloseFile(gif, &error);
}

namespace {

int write_to_file(GifFileType* gif, const GifByteType* bytes, int count) {
    auto* file = static_cast<std::FILE*>(gif->UserData);
    return static_cast<int>(std::fwrite(bytes, 1, static_cast<std::size_t>(count), file));
}

void check(int result, GifFileType* gif, const char* what) {
    if (result != GIF_OK) {
        const char* reason = GifErrorString(gif->Error);
        fail(std::string("could not write the GIF animation (") + what +
             "): " + (reason != nullptr ? reason : "unknown error"));
    }
}

} // namespace

Gif_Writer::Gif_Writer(std::FILE* file, std::uint64_t frames_apart)
    : frames_apart_{frames_apart}, previous_(Screen{}.size(), 0) {
    int error = 0;
    gif_.reset(EGifOpen(file, write_to_file, &error));
    if (!gif_) {
        fail(std::string("could not start the GIF animation: ") + GifErrorString(error));
    }
    GifFileType* gif = gif_.get();
    EGifSetGifVersion(gif, true);
    const std::array<GifColorType, 2> colours{{{0, 0, 0}, {255, 255, 255}}}; // dark, lit
    ColorMapObject* map = GifMakeMapObject(2, colours.data());
    if (map == nullptr) {
        fail("could not start the GIF animation: out of memory");
    }
    const int result = EGifPutScreenDesc(gif, width, height, 1, 0, map);
    GifFreeMapObject(map);
    check(result, gif, "screen");

    // Loop forever.
    const std::uint8_t loop[3] = {1, 0, 0};
    check(EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE), gif, "loop");
    check(EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0"), gif, "loop");
    check(EGifPutExtensionBlock(gif, 3, loop), gif, "loop");
    check(EGifPutExtensionTrailer(gif), gif, "loop");
}

void Gif_Writer::add(const Screen& screen) {
    GifFileType* gif = gif_.get();
    // The rectangle of pixels that differ from the previous picture: all of the first picture;
    // one pixel when nothing changed, since every picture must have one.
    int left = 0;
    int top = 0;
    int right = width - 1;
    int bottom = height - 1;
    if (pictures_ > 0) {
        left = width;
        top = height;
        right = -1;
        bottom = -1;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const auto i = static_cast<std::size_t>(y * width + x);
                if ((screen[i] != 0) != (previous_[i] != 0)) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
            }
        }
        if (right < 0) {
            left = right = top = bottom = 0;
        }
    }

    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_DO_NOT;
    control.UserInputFlag = false;
    control.DelayTime = gif_delay(pictures_, frames_apart_);
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType extension[4];
    EGifGCBToExtension(&control, extension);
    check(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension), gif, "delay");
    check(EGifPutImageDesc(gif, left, top, right - left + 1, bottom - top + 1, false, nullptr), gif,
          "picture");
    std::array<GifPixelType, screen_size.width> line{};
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) {
            line[static_cast<std::size_t>(x - left)] =
                screen[static_cast<std::size_t>(y * width + x)] != 0 ? 1 : 0;
        }
        check(EGifPutLine(gif, line.data(), right - left + 1), gif, "picture");
    }
    std::copy(screen.begin(), screen.end(), previous_.begin());
    ++pictures_;
}

void Gif_Writer::finish() {
    int error = 0;
    const int result = EGifCloseFile(gif_.release(), &error);
    if (result != GIF_OK) {
        fail(std::string("could not finish the GIF animation: ") + GifErrorString(error));
    }
}

} // namespace Drovask
