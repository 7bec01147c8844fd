// Splitting a large animated GIF into frame streams, against giflib reading the same file
// whole (DGifSlurp), which is what a decoder-side split would cost at the least.
//   gif_walk_bench [file.gif]   (without a file, a generated 400-frame animation)
#include <gif_lib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "gif_bench_file.h"
#include "picture/gif_parser.h"

namespace {

struct MemoryReader {
    const unsigned char* data;
    std::size_t size;
    std::size_t pos;
};

int ReadMemory(GifFileType* gif, GifByteType* buffer, int count)
{
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(count), reader->size - reader->pos);
    std::memcpy(buffer, reader->data + reader->pos, n);
    reader->pos += n;
    return static_cast<int>(n);
}

std::size_t SplitFrames(const std::vector<unsigned char>& file, std::size_t* bytes)
{
    picture::GifParser parser(file.data(), file.size());
    std::size_t frames = parser.CountFrames();
    parser.Rewind();
    picture::FrameStream frame;
    *bytes = 0;
    while (parser.ExtractNextFrame(frame)) *bytes += frame.bytes.size();
    return frames;
}

int SlurpFrames(const std::vector<unsigned char>& file)
{
    MemoryReader reader{file.data(), file.size(), 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, ReadMemory, &error);
    if (!gif) return -1;
    const int ok = DGifSlurp(gif);
    const int count = ok == GIF_OK ? gif->ImageCount : -1;
    DGifCloseFile(gif, &error);
    return count;
}

template <class Fn>
double MedianMs(int runs, Fn fn)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        fn();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<unsigned char> file;
    if (argc > 1) {
        std::ifstream in(argv[1], std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        const std::string generated = gifbench::LargeAnimation();
        file.assign(generated.begin(), generated.end());
    }
    std::size_t streamBytes = 0;
    const std::size_t frames = SplitFrames(file, &streamBytes);
    const int slurped = SlurpFrames(file);
    if (frames < 2 || slurped != static_cast<int>(frames)) {
        std::fprintf(stderr, "frame counts differ: walk %zu, giflib %d\n", frames, slurped);
        return 1;
    }
    // A quick pass (bench/picture.sh --quick) times three runs of each.
    const char* quick = std::getenv("MORVANE_BENCH_QUICK");
    const int runs = quick && std::strcmp(quick, "1") == 0 ? 3 : 15;
    const double walkMs = MedianMs(runs, [&] { SplitFrames(file, &streamBytes); });
    const double slurpMs = MedianMs(runs, [&] { SlurpFrames(file); });
    std::printf("file: %zu bytes, %zu frames (%zu bytes of frame streams)\n", file.size(), frames,
                streamBytes);
    std::printf("walk + extraction: %8.3f ms (median of %d)\n", walkMs, runs);
    std::printf("giflib DGifSlurp:  %8.3f ms (median of %d)\n", slurpMs, runs);
    std::printf("ratio giflib / walk: %.1f\n", slurpMs / walkMs);
    return 0;
}
