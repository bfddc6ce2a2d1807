#pragma once

// The runner's pictures: the picture as PNG (libpng), the pictures of a run as an animated GIF
// (giflib). Both write to a stream, such as that of a Tools::Output_File.

#include "machine/board.hpp"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

struct GifFileType;

namespace Drovask {

// The picture as an 8-bit grey PNG, 224 x 256, 0 dark and 255 lit. Throws Tavrin::Exception.
void write_png(const Screen& screen, std::FILE* file);

// GIF frame delays are in hundredths of a second and a frame of the machine lasts 1/60 s: the
// delay of picture `index` (from 0) when each shows `frames_apart` frames, rounded so that the
// pictures keep time with the machine over the whole animation. Browsers show a delay of 0 or 1
// as 10, so no delay is below 2: pictures of every frame play at 50 a second, 5/6 of the
// machine's speed. No delay is above the 65535 that a GIF can hold: pictures further apart than
// `longest_gif_frames_apart` frames are shown for less time than they stand for.
std::uint16_t gif_delay(std::uint64_t index, std::uint64_t frames_apart);
inline constexpr std::uint16_t shortest_gif_delay = 2;
inline constexpr std::uint64_t longest_gif_frames_apart = 65535 * 3 / 5;

// An animated GIF, black and white, looping forever; each picture after the first stores only
// the rectangle that changed.
class Gif_Writer {
public:
    // Writes the header to `file`. Throws Tavrin::Exception.
    Gif_Writer(std::FILE* file, std::uint64_t frames_apart);

    void add(const Screen& screen);
    // Writes the trailer; the file then holds the whole animation.
    void finish();

    std::uint64_t pictures() const { return pictures_; }

private:
    struct Closer {
        void operator()(GifFileType* gif) const;
    };

    std::unique_ptr<GifFileType, Closer> gif_;
    std::uint64_t frames_apart_;
    std::uint64_t pictures_ = 0;
    std::vector<std::uint8_t> previous_;
};

} // namespace Drovask
