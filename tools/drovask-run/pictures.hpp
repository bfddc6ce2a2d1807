#pragma once

// The runner's output files: the picture as PNG (libpng), the pictures of a run as an animated
// GIF (giflib), and the temporary file beside the target that becomes the target only when it
// is complete, so that a failed run never leaves half a file behind.

#include "machine/board.hpp"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

struct GifFileType;

namespace Drovask {

// A file written under a temporary name in the target's folder and renamed over the target by
// `commit`. Until then the target is untouched; without a commit the temporary is removed.
class Output_File {
public:
    // Throws Tavrin::Exception when the temporary cannot be created.
    explicit Output_File(std::filesystem::path target);

    std::FILE* stream() const { return file_.get(); }
    const std::filesystem::path& target() const { return target_; }

    // Flushes, closes and renames; throws Tavrin::Exception when any of it fails.
    void commit();

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    struct Remover {
        void operator()(std::filesystem::path* path) const;
    };

    std::filesystem::path target_;
    std::unique_ptr<std::filesystem::path, Remover> temporary_; // removed unless committed
    std::unique_ptr<std::FILE, Closer> file_;
};

// The picture as an 8-bit grey PNG, 224 x 256, 0 dark and 255 lit. Throws Tavrin::Exception.
void write_png(const Screen& screen, std::FILE* file);

// GIF frame delays are in hundredths of a second and a frame of the machine lasts 1/60 s: the
// delay of picture `index` (from 0) when each shows `frames_apart` frames, rounded so that the
// pictures keep time with the machine over the whole animation.
std::uint16_t gif_delay(std::uint64_t index, std::uint64_t frames_apart);

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
