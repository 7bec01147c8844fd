// Builds small, valid GIF streams byte by byte for the tests and benchmarks. Pixels are
// palette indices 0..3 (LZW minimum code size 2); the LZW data is written without any
// compression (a Clear code after every two pixels keeps every code 3 bits wide), which
// every decoder reads.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace gifbuild {

// The four colours of the test palette, as 0xRRGGBB.
constexpr std::uint32_t kPalette[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
enum : unsigned char { kRed = 0, kGreen = 1, kBlue = 2, kWhite = 3 };

inline void PutU16(std::string& out, unsigned value)
{
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

inline std::string PaletteBytes()
{
    std::string out;
    for (std::uint32_t rgb : kPalette) {
        out.push_back(static_cast<char>((rgb >> 16) & 0xFF));
        out.push_back(static_cast<char>((rgb >> 8) & 0xFF));
        out.push_back(static_cast<char>(rgb & 0xFF));
    }
    return out;
}

// Header and Logical Screen Descriptor, with the 4-colour Global Color Table when asked.
inline std::string Screen(unsigned width, unsigned height, bool globalTable = true,
                          const char* version = "89a")
{
    std::string out = std::string("GIF") + version;
    PutU16(out, width);
    PutU16(out, height);
    out.push_back(static_cast<char>(globalTable ? 0x81 : 0x00));  // 2^(1+1) = 4 colours
    out.push_back(0);                                             // background colour index
    out.push_back(0);                                             // pixel aspect ratio
    if (globalTable) out += PaletteBytes();
    return out;
}

inline std::string LoopingApplication()
{
    std::string out(
        "\x21\xFF\x0B"
        "NETSCAPE2.0",
        14);
    out += std::string("\x03\x01\x00\x00\x00", 5);
    return out;
}

inline std::string SubBlocks(const std::string& data)
{
    std::string out;
    for (std::size_t pos = 0; pos < data.size(); pos += 255) {
        const std::size_t n = data.size() - pos < 255 ? data.size() - pos : 255;
        out.push_back(static_cast<char>(n));
        out += data.substr(pos, n);
    }
    out.push_back(0);
    return out;
}

inline std::string Comment(const std::string& text)
{
    return std::string("\x21\xFE", 2) + SubBlocks(text);
}

inline std::string GraphicControl(unsigned disposal, unsigned delayCs, int transparentIndex = -1)
{
    std::string out("\x21\xF9\x04", 3);
    out.push_back(static_cast<char>(((disposal & 7) << 2) | (transparentIndex >= 0 ? 1 : 0)));
    PutU16(out, delayCs);
    out.push_back(static_cast<char>(transparentIndex >= 0 ? transparentIndex : 0));
    out.push_back(0);
    return out;
}

// LZW data of minimum code size 2, uncompressed.
inline std::string LzwBytes(const std::vector<unsigned char>& pixels)
{
    const unsigned kClear = 4, kEnd = 5, kBits = 3;
    std::string out;
    std::uint32_t acc = 0;
    unsigned filled = 0;
    auto put = [&](unsigned code) {
        acc |= code << filled;
        filled += kBits;
        while (filled >= 8) {
            out.push_back(static_cast<char>(acc & 0xFF));
            acc >>= 8;
            filled -= 8;
        }
    };
    put(kClear);
    unsigned run = 0;
    for (unsigned char p : pixels) {
        if (run == 2) {
            put(kClear);
            run = 0;
        }
        put(p & 3u);
        ++run;
    }
    put(kEnd);
    if (filled > 0) out.push_back(static_cast<char>(acc & 0xFF));
    return out;
}

inline std::string Image(unsigned left, unsigned top, unsigned width, unsigned height,
                         const std::vector<unsigned char>& pixels, bool localTable = false)
{
    std::string out(1, '\x2C');
    PutU16(out, left);
    PutU16(out, top);
    PutU16(out, width);
    PutU16(out, height);
    out.push_back(static_cast<char>(localTable ? 0x81 : 0x00));
    if (localTable) out += PaletteBytes();
    out.push_back(2);  // LZW minimum code size
    out += SubBlocks(LzwBytes(pixels));
    return out;
}

// An image of one colour.
inline std::string SolidImage(unsigned left, unsigned top, unsigned width, unsigned height,
                              unsigned char index, bool localTable = false)
{
    return Image(left, top, width, height,
                 std::vector<unsigned char>(static_cast<std::size_t>(width) * height, index),
                 localTable);
}

inline std::string Trailer() { return std::string(1, '\x3B'); }

// An animation of random pixels, which the uncompressed LZW above writes at 4.5 bits a
// pixel: 40 frames of 640 x 480 make a file of about 7 MB that decodes slowly.
inline std::string NoiseAnimation(unsigned width, unsigned height, unsigned frames,
                                  unsigned delayCs)
{
    std::string out = Screen(width, height) + LoopingApplication();
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height);
    std::uint32_t state = 0x2545F491u;
    for (unsigned f = 0; f < frames; ++f) {
        for (unsigned char& p : pixels) {
            state = state * 1664525u + 1013904223u;
            p = static_cast<unsigned char>(state >> 30);
        }
        out += GraphicControl(0, delayCs) + Image(0, 0, width, height, pixels);
    }
    return out + Trailer();
}

inline std::vector<unsigned char> Bytes(const std::string& s)
{
    return std::vector<unsigned char>(s.begin(), s.end());
}

}  // namespace gifbuild
