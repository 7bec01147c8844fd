// Writes a few small GIF streams, built as the native tests build theirs (gif_builder.h), into
// a folder as seeds for gif_parser_fuzz: make_gif_seeds OUT_DIR. Without them the fuzzer
// spends its time finding a screen head and a first image block.
#include <cstdio>
#include <string>

#include "gif_builder.h"

namespace {

bool Write(const std::string& folder, const char* name, const std::string& bytes)
{
    std::FILE* file = std::fopen((folder + "/" + name).c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    using namespace gifbuild;
    const std::string folder = argv[1];
    const std::string looping = Screen(4, 4) + LoopingApplication() + GraphicControl(2, 10, 3) +
                                SolidImage(0, 0, 4, 4, kRed) + Comment("seed") +
                                GraphicControl(3, 5) + SolidImage(1, 1, 2, 2, kBlue, true) +
                                Trailer();
    const std::string still =
        Screen(2, 2, false, "87a") + SolidImage(0, 0, 2, 2, kGreen, true) + Trailer();
    const std::string noise = NoiseAnimation(8, 8, 3, 0);
    return Write(folder, "looping", looping) && Write(folder, "still", still) &&
                   Write(folder, "noise", noise)
               ? 0
               : 1;
}
