// tavrin-icon: draws the program's icon and writes it in the formats that the packages need.
//
//   tavrin-icon png SIZE FILE   a SIZE x SIZE PNG with an alpha channel (SIZE 1 to 1024)
//   tavrin-icon ico FILE        a Windows icon: 16, 24, 32 and 48 pixels as bitmaps, 256 as PNG
//   tavrin-icon svg FILE        the art as SVG squares, for the icon theme's scalable entry
//
// The art is the built-in game's play field on a 32 x 32 grid: the ceiling and the side walls,
// three rows of bricks drawn as the game draws them (solid, striped, solid; one brick knocked
// out), the ball and the paddle, on a dark screen with rounded corners. Sizes that are multiples
// of 32 repeat each grid cell; other sizes take the exact average over the area each pixel
// covers, so 16 and 48 pixels stay true to the art. libpng encodes the PNG files.

#include <png.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <numeric>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int grid = 32;

// One character per grid cell, top row first; `colour_of` gives the colours.
constexpr std::array<std::string_view, grid> art = {
    "  ............................  ", " .............................. ",
    "................................", ".WWWWWWWWWWWWWWWWWWWWWWWWWWWWWW.",
    ".W............................W.", ".W............................W.",
    ".WRRRRRR.RRRRRR.RRRRRR.RRRRRR.W.", ".WRRRRRR.RRRRRR.RRRRRR.RRRRRR.W.",
    ".WRRRRRR.RRRRRR.RRRRRR.RRRRRR.W.", ".W............................W.",
    ".WYYYYYY.YYYYYY.YYYYYY.YYYYYY.W.", ".W............................W.",
    ".WYYYYYY.YYYYYY.YYYYYY.YYYYYY.W.", ".W............................W.",
    ".WGGGGGG.GGGGGG........GGGGGG.W.", ".WGGGGGG.GGGGGG........GGGGGG.W.",
    ".WGGGGGG.GGGGGG........GGGGGG.W.", ".W............................W.",
    ".W............................W.", ".W............................W.",
    ".W............................W.", ".W..................WW........W.",
    ".W..................WW........W.", ".W............................W.",
    ".W............................W.", ".W............................W.",
    ".W............................W.", ".W......WWWWWWWWWW............W.",
    ".W......WWWWWWWWWW............W.", "................................",
    " .............................. ", "  ............................  ",
};

struct Colour {
    std::uint8_t red, green, blue, alpha;
};

constexpr Colour transparent{0, 0, 0, 0};
constexpr Colour screen{0x18, 0x1b, 0x24, 0xff};
constexpr Colour white{0xf2, 0xf2, 0xf2, 0xff}; // the machine's one colour
// The brick rows are tinted like strips of a cabinet's colour overlay.
constexpr Colour brick_red{0xff, 0x5c, 0x4d, 0xff};
constexpr Colour brick_yellow{0xff, 0xc2, 0x3d, 0xff};
constexpr Colour brick_green{0x5f, 0xd3, 0x5f, 0xff};

constexpr bool known_cell(char cell) {
    return std::string_view(" .WRYG").find(cell) != std::string_view::npos;
}

constexpr Colour colour_of(char cell) {
    switch (cell) {
    case '.':
        return screen;
    case 'W':
        return white;
    case 'R':
        return brick_red;
    case 'Y':
        return brick_yellow;
    case 'G':
        return brick_green;
    default:
        return transparent;
    }
}

constexpr bool art_is_well_formed() {
    return std::all_of(art.begin(), art.end(), [](std::string_view row) {
        return row.size() == grid && std::all_of(row.begin(), row.end(), known_cell);
    });
}
static_assert(art_is_well_formed(), "every row of the art has 32 cells of known colours");

// A square RGBA picture, rows from the top, 4 bytes a pixel.
struct Image {
    int size = 0;
    std::vector<std::uint8_t> rgba;

    const std::uint8_t* pixel(int x, int y) const {
        return rgba.data() + 4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(size) +
                                  static_cast<std::size_t>(x));
    }
};

std::uint8_t rounded_quotient(std::uint64_t sum, std::uint64_t count) {
    return static_cast<std::uint8_t>((sum + count / 2) / count);
}

// The art at `size` pixels: every output pixel averages the grid cells under it, weighted by the
// area covered, with colours weighted by their alpha so that the transparent corners do not
// darken the edges. Both grids divide a common finer grid of `fine` samples a side.
Image render(int size) {
    const int fine = std::lcm(size, grid);
    const int per_cell = fine / grid;
    const int per_pixel = fine / size;
    const auto samples =
        static_cast<std::uint64_t>(per_pixel) * static_cast<std::uint64_t>(per_pixel);
    Image image{size, {}};
    image.rgba.reserve(4 * static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            std::uint64_t red = 0, green = 0, blue = 0, alpha = 0;
            for (int fine_y = y * per_pixel; fine_y < (y + 1) * per_pixel; ++fine_y) {
                const std::string_view row = art[static_cast<std::size_t>(fine_y / per_cell)];
                for (int fine_x = x * per_pixel; fine_x < (x + 1) * per_pixel; ++fine_x) {
                    const Colour colour =
                        colour_of(row[static_cast<std::size_t>(fine_x / per_cell)]);
                    red += std::uint64_t{colour.red} * colour.alpha;
                    green += std::uint64_t{colour.green} * colour.alpha;
                    blue += std::uint64_t{colour.blue} * colour.alpha;
                    alpha += colour.alpha;
                }
            }
            if (alpha == 0) {
                image.rgba.insert(image.rgba.end(), {0, 0, 0, 0});
            } else {
                image.rgba.insert(image.rgba.end(),
                                  {rounded_quotient(red, alpha), rounded_quotient(green, alpha),
                                   rounded_quotient(blue, alpha),
                                   rounded_quotient(alpha, samples)});
            }
        }
    }
    return image;
}

// --- Byte output ------------------------------------------------------------------------------

using Bytes = std::vector<std::uint8_t>;

void put_le(Bytes& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void append(Bytes& out, std::span<const std::uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// --- PNG --------------------------------------------------------------------------------------

// The picture as an 8-bit RGBA PNG, encoded by libpng in memory: the first call measures, the
// second writes. Throws std::runtime_error with libpng's reason when it fails.
Bytes encode_png(const Image& image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.size);
    png.height = static_cast<png_uint_32>(image.size);
    png.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    Bytes bytes;
    for (int pass = 0; pass < 2; ++pass) {
        bytes.resize(size);
        if (png_image_write_to_memory(&png, pass == 0 ? nullptr : bytes.data(), &size, 0,
                                      image.rgba.data(), 0, nullptr) == 0) {
            const std::string reason = png.message;
            png_image_free(&png);
            throw std::runtime_error("libpng cannot encode the picture: " + reason);
        }
    }
    bytes.resize(size);
    return bytes;
}

// --- Windows icon -----------------------------------------------------------------------------

// An icon directory entry's image as a 32-bit bitmap: the header with the height doubled for
// the mask, the pixels bottom row first in BGRA order, then the 1-bit mask (set: transparent).
Bytes encode_icon_bitmap(const Image& image) {
    const auto size = static_cast<std::uint32_t>(image.size);
    const std::uint32_t mask_row_bytes = (size + 31) / 32 * 4;
    Bytes out;
    put_le(out, 40, 4);       // header size
    put_le(out, size, 4);     // width
    put_le(out, 2 * size, 4); // height of pixels and mask together
    put_le(out, 1, 2);        // planes
    put_le(out, 32, 2);       // bits per pixel
    put_le(out, 0, 4);        // no compression
    put_le(out, size * size * 4 + mask_row_bytes * size, 4);
    out.resize(out.size() + 16); // resolution and palette: unused
    for (int y = image.size - 1; y >= 0; --y) {
        for (int x = 0; x < image.size; ++x) {
            const std::uint8_t* p = image.pixel(x, y);
            out.insert(out.end(), {p[2], p[1], p[0], p[3]});
        }
    }
    for (int y = image.size - 1; y >= 0; --y) {
        Bytes mask_row(mask_row_bytes, 0);
        for (int x = 0; x < image.size; ++x) {
            if (image.pixel(x, y)[3] == 0) {
                mask_row[static_cast<std::size_t>(x / 8)] |=
                    static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
        append(out, mask_row);
    }
    return out;
}

Bytes encode_ico() {
    constexpr std::array sizes{16, 24, 32, 48, 256};
    std::vector<Bytes> images;
    for (const int size : sizes) {
        // Windows reads the largest size as PNG; the small ones as bitmaps suit every reader.
        images.push_back(size == 256 ? encode_png(render(size)) : encode_icon_bitmap(render(size)));
    }
    Bytes out;
    put_le(out, 0, 2);
    put_le(out, 1, 2); // an icon, not a cursor
    put_le(out, static_cast<std::uint32_t>(sizes.size()), 2);
    auto offset = static_cast<std::uint32_t>(6 + 16 * sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const auto size = static_cast<std::uint32_t>(sizes[i]);
        out.push_back(static_cast<std::uint8_t>(size % 256)); // 0 means 256
        out.push_back(static_cast<std::uint8_t>(size % 256));
        out.push_back(0); // no palette
        out.push_back(0);
        put_le(out, 1, 2);  // planes
        put_le(out, 32, 2); // bits per pixel
        put_le(out, static_cast<std::uint32_t>(images[i].size()), 4);
        put_le(out, offset, 4);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const Bytes& image : images) {
        append(out, image);
    }
    return out;
}

// --- SVG --------------------------------------------------------------------------------------

std::string hex_colour(Colour colour) {
    constexpr std::string_view digits = "0123456789abcdef";
    std::string text = "#";
    for (const std::uint8_t channel : {colour.red, colour.green, colour.blue}) {
        text += digits[channel / 16];
        text += digits[channel % 16];
    }
    return text;
}

// One square per run of equal cells along a row; transparent cells are left out.
std::string encode_svg() {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
                      "viewBox=\"0 0 32 32\" shape-rendering=\"crispEdges\">\n";
    for (std::size_t y = 0; y < art.size(); ++y) {
        const std::string_view row = art[y];
        for (std::size_t x = 0; x < row.size();) {
            std::size_t end = x;
            while (end < row.size() && row[end] == row[x]) {
                ++end;
            }
            if (colour_of(row[x]).alpha != 0) {
                out += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
                       "\" width=\"" + std::to_string(end - x) + "\" height=\"1\" fill=\"" +
                       hex_colour(colour_of(row[x])) + "\"/>\n";
            }
            x = end;
        }
    }
    return out + "</svg>\n";
}

// --- Command line -----------------------------------------------------------------------------

int usage() {
    std::cerr << "Usage: tavrin-icon png SIZE FILE   (SIZE 1 to 1024)\n"
                 "       tavrin-icon ico FILE\n"
                 "       tavrin-icon svg FILE\n";
    return 2;
}

int write_file(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::cerr << "tavrin-icon: cannot write " << path
                  << ": check that its folder exists and is writable\n";
        return 1;
    }
    return 0;
}

int run(const std::vector<std::string_view>& arguments) {
    if (arguments.size() == 3 && arguments[0] == "png") {
        int size = 0;
        const std::string_view text = arguments[1];
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
        if (error != std::errc{} || end != text.data() + text.size() || size < 1 || size > 1024) {
            std::cerr << "tavrin-icon: the size \"" << text
                      << "\" is not a whole number from 1 to 1024\n";
            return usage();
        }
        return write_file(std::string(arguments[2]), encode_png(render(size)));
    }
    if (arguments.size() == 2 && arguments[0] == "ico") {
        return write_file(std::string(arguments[1]), encode_ico());
    }
    if (arguments.size() == 2 && arguments[0] == "svg") {
        const std::string svg = encode_svg();
        return write_file(std::string(arguments[1]),
                          std::span(reinterpret_cast<const std::uint8_t*>(svg.data()), svg.size()));
    }
    return usage();
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run({argv + 1, argv + argc});
    } catch (const std::exception& error) {
        std::cerr << "tavrin-icon: " << error.what() << "\n";
        return 1;
    }
}
