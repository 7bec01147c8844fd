#include "picture/gif_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gif_builder.h"

using picture::FrameStream;
using picture::GifBlockKind;
using picture::GifParser;
namespace gb = gifbuild;

namespace {

const std::size_t kHead = 13 + 12;  // header, screen descriptor, 4-colour table

struct Parsed {
    std::uint32_t count = 0;
    std::vector<FrameStream> frames;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// Counts and extracts over a copy that holds exactly the given bytes, so ASan sees any read
// past the end.
Parsed Parse(const std::string& data)
{
    std::vector<unsigned char> bytes = gb::Bytes(data);
    const unsigned char* p = bytes.empty() ? nullptr : bytes.data();
    Parsed result;
    GifParser counter(p, bytes.size());
    result.width = counter.ScreenWidth();
    result.height = counter.ScreenHeight();
    result.count = counter.CountFrames();
    GifParser parser(p, bytes.size());
    FrameStream frame;
    while (parser.ExtractNextFrame(frame)) result.frames.push_back(frame);
    return result;
}

std::string AsString(const std::vector<unsigned char>& v)
{
    return std::string(v.begin(), v.end());
}

std::string ThreeFrameAnimation(std::string frames[3])
{
    frames[0] = gb::GraphicControl(1, 10) + gb::SolidImage(0, 0, 8, 8, gb::kRed);
    frames[1] = gb::GraphicControl(2, 20) + gb::SolidImage(2, 3, 4, 5, gb::kGreen);
    frames[2] = gb::GraphicControl(3, 65535) + gb::SolidImage(1, 1, 6, 2, gb::kBlue, true);
    return gb::Screen(8, 8) + gb::LoopingApplication() + frames[0] + frames[1] + frames[2] +
           gb::Trailer();
}

}  // namespace

TEST(GifParser, LoopingAnimationSplitsIntoStandAloneFrames)
{
    std::string frames[3];
    const std::string file = ThreeFrameAnimation(frames);
    const Parsed parsed = Parse(file);
    ASSERT_EQ(parsed.count, 3u);
    ASSERT_EQ(parsed.frames.size(), 3u);

    const std::string head = file.substr(0, kHead);
    for (int i = 0; i < 3; ++i) {
        const FrameStream& f = parsed.frames[i];
        EXPECT_EQ(AsString(f.bytes), head + frames[i] + gb::Trailer()) << "frame " << i;
        EXPECT_EQ(f.bytes.size(), kHead + 8 + (frames[i].size() - 8) + 1) << "frame " << i;
    }
    const struct {
        std::uint32_t delay, disposal;
        std::int32_t left, top, width, height;
    } want[] = {{10, 1, 0, 0, 8, 8}, {20, 2, 2, 3, 4, 5}, {65535, 3, 1, 1, 6, 2}};
    for (int i = 0; i < 3; ++i) {
        const FrameStream& f = parsed.frames[i];
        EXPECT_EQ(f.nDelayCs, want[i].delay);
        EXPECT_EQ(f.nDisposalMethod, want[i].disposal);
        EXPECT_EQ(f.nLeft, want[i].left);
        EXPECT_EQ(f.nTop, want[i].top);
        EXPECT_EQ(f.nWidth, want[i].width);
        EXPECT_EQ(f.nHeight, want[i].height);
    }
}

TEST(GifParser, CommentInsideAFrameIsCopiedOnceWithIt)
{
    const std::string first =
        gb::GraphicControl(0, 7) + gb::Comment("between") + gb::SolidImage(0, 0, 4, 4, gb::kRed);
    const std::string second = gb::GraphicControl(0, 9) + gb::SolidImage(0, 0, 4, 4, gb::kBlue);
    const std::string file =
        gb::Screen(4, 4) + gb::Comment("before") + first + second + gb::Trailer();
    const Parsed parsed = Parse(file);
    ASSERT_EQ(parsed.frames.size(), 2u);
    EXPECT_EQ(AsString(parsed.frames[0].bytes), file.substr(0, kHead) + first + gb::Trailer());
    EXPECT_EQ(AsString(parsed.frames[1].bytes), file.substr(0, kHead) + second + gb::Trailer());
    EXPECT_EQ(parsed.frames[0].nDelayCs, 7u);
}

TEST(GifParser, WithoutGlobalColorTableFramesStartAfterThirteenBytes)
{
    const std::string frame = gb::GraphicControl(0, 5) + gb::SolidImage(0, 0, 2, 2, gb::kRed, true);
    const std::string file = gb::Screen(2, 2, false) + frame + frame + gb::Trailer();
    std::vector<unsigned char> bytes = gb::Bytes(file);
    GifParser parser(bytes.data(), bytes.size());
    EXPECT_EQ(parser.ColorTableBytes(), 0u);
    EXPECT_EQ(parser.ReadPos(), 13u);
    FrameStream f;
    ASSERT_TRUE(parser.ExtractNextFrame(f));
    EXPECT_EQ(AsString(f.bytes), file.substr(0, 13) + frame + gb::Trailer());
}

TEST(GifParser, Gif87FramesWithoutControlExtensionCarryTheNoDelayMarker)
{
    const std::string file = gb::Screen(4, 4, true, "87a") + gb::SolidImage(0, 0, 4, 4, gb::kRed) +
                             gb::SolidImage(1, 2, 3, 2, gb::kGreen) + gb::Trailer();
    const Parsed parsed = Parse(file);
    ASSERT_EQ(parsed.frames.size(), 2u);
    for (const FrameStream& f : parsed.frames) {
        EXPECT_EQ(f.nDelayCs, picture::kNoDelay);
        EXPECT_EQ(f.nDisposalMethod, 0u);
    }
    EXPECT_EQ(parsed.frames[1].nLeft, 1);
    EXPECT_EQ(parsed.frames[1].nTop, 2);
}

TEST(GifParser, PlainTextFrameTakesItsPlaceFromTheTextGrid)
{
    std::string text("\x21\x01\x0C", 3);
    for (unsigned v : {3u, 4u, 20u, 10u}) gb::PutU16(text, v);  // grid left, top, width, height
    text += std::string("\x05\x05\x01\x00", 4) + gb::SubBlocks("hi");
    const std::string file = gb::Screen(32, 32) + gb::GraphicControl(2, 30) + text +
                             gb::SolidImage(0, 0, 2, 2, gb::kRed) + gb::Trailer();
    const Parsed parsed = Parse(file);
    ASSERT_EQ(parsed.frames.size(), 2u);
    const FrameStream& f = parsed.frames[0];
    EXPECT_EQ(AsString(f.bytes),
              file.substr(0, kHead) + gb::GraphicControl(2, 30) + text + gb::Trailer());
    EXPECT_EQ(f.nLeft, 3);
    EXPECT_EQ(f.nTop, 4);
    EXPECT_EQ(f.nWidth, 20);
    EXPECT_EQ(f.nHeight, 10);
    EXPECT_EQ(f.nDelayCs, 30u);
    EXPECT_EQ(f.nDisposalMethod, 2u);
}

TEST(GifParser, WalkEndsAtBlocksThatBelongToNoFrame)
{
    const std::string frame = gb::GraphicControl(0, 10) + gb::SolidImage(0, 0, 4, 4, gb::kRed);
    const struct {
        const char* name;
        std::string tail;
    } cases[] = {
        {"control extension then trailer", gb::GraphicControl(0, 10) + gb::Trailer()},
        {"unknown extension label", std::string("\x21\x99\x01x\x00", 5) + frame + gb::Trailer()},
        {"stray byte", std::string("\x00", 1) + frame + gb::Trailer()},
        {"lone introducer at the end", std::string("\x21", 1)},
        {"no trailer", ""},
    };
    for (const auto& c : cases) {
        const Parsed parsed = Parse(gb::Screen(4, 4) + frame + frame + c.tail);
        EXPECT_EQ(parsed.count, 2u) << c.name;
        EXPECT_EQ(parsed.frames.size(), 2u) << c.name;
    }
}

TEST(GifParser, TruncationKeepsOnlyTheFramesBeforeIt)
{
    std::string frames[3];
    const std::string file = ThreeFrameAnimation(frames);
    const std::size_t frame0 = kHead + 19;
    const std::size_t ends[3] = {frame0 + frames[0].size(),
                                 frame0 + frames[0].size() + frames[1].size(),
                                 frame0 + frames[0].size() + frames[1].size() + frames[2].size()};
    const struct {
        std::size_t cut;
        std::uint32_t frames;
        bool screen;  // header, screen descriptor and global colour table all there
    } cases[] = {
        {ends[2] - 3, 2, true},   // inside the third frame's image data
        {ends[1] - 2, 1, true},   // inside the second frame
        {ends[0] - 1, 0, true},   // the first frame's terminator is missing
        {frame0 + 4, 0, true},    // inside the first control extension
        {ends[1] + 10, 2, true},  // inside the third image's descriptor
        {ends[2], 3, true},       // right after the last frame, no trailer
        {kHead, 0, true},         // the colour table and nothing after it
        // Cut inside the head: nothing is read from it, not even the screen size.
        {kHead - 1, 0, false},  // inside the global colour table
        {13, 0, false},         // screen descriptor, its colour table missing
        {6, 0, false},          // header only
    };
    for (const auto& c : cases) {
        const Parsed parsed = Parse(file.substr(0, c.cut));
        EXPECT_EQ(parsed.count, c.frames) << "cut at " << c.cut;
        EXPECT_EQ(parsed.frames.size(), c.frames) << "cut at " << c.cut;
        EXPECT_EQ(parsed.width, c.screen ? 8 : 0) << "cut at " << c.cut;
        EXPECT_EQ(parsed.height, c.screen ? 8 : 0) << "cut at " << c.cut;
    }
}

TEST(GifParser, BlockKindsAndLengths)
{
    const std::string image = gb::SolidImage(0, 0, 3, 3, gb::kRed);
    const std::string localImage = gb::SolidImage(0, 0, 3, 3, gb::kRed, true);
    const std::string plainText =
        std::string("\x21\x01\x0C", 3) + std::string(12, '\x01') + gb::SubBlocks("hello");
    // A control extension is 8 bytes whatever its Block Size byte says.
    std::string oddControl = gb::GraphicControl(0, 1);
    oddControl[2] = 9;
    const struct {
        const char* name;
        std::string block;
        GifBlockKind kind;
        std::int32_t length;
    } cases[] = {
        {"application", gb::LoopingApplication(), GifBlockKind::Application, 19},
        {"comment", gb::Comment("abc"), GifBlockKind::Comment, 2 + 5},
        {"empty comment", std::string("\x21\xFE\x00", 3), GifBlockKind::Comment, 3},
        {"control", gb::GraphicControl(2, 10), GifBlockKind::GraphicControl, 8},
        {"control with odd size", oddControl, GifBlockKind::GraphicControl, 8},
        {"plain text", plainText, GifBlockKind::PlainText, 15 + 7},
        {"image", image, GifBlockKind::Image, static_cast<std::int32_t>(image.size())},
        {"image with local table", localImage, GifBlockKind::Image,
         static_cast<std::int32_t>(localImage.size())},
        {"trailer", gb::Trailer(), GifBlockKind::Trailer, 1},
        {"unknown label", std::string("\x21\x02\x00", 3), GifBlockKind::Other, -1},
        {"unknown byte", std::string("\x42", 1), GifBlockKind::Other, -1},
    };
    for (const auto& c : cases) {
        const std::string file = gb::Screen(3, 3) + c.block;
        std::vector<unsigned char> bytes = gb::Bytes(file);
        GifParser parser(bytes.data(), bytes.size());
        EXPECT_EQ(parser.PeekBlockKind(), c.kind) << c.name;
        EXPECT_EQ(parser.BlockLength(), c.length) << c.name;
        EXPECT_EQ(parser.SkipBlock(), c.length > 0 ? 1 : 0) << c.name;
        if (c.length > 0) {
            EXPECT_EQ(parser.ReadPos(), file.size()) << c.name;
            // One byte less and the block no longer fits.
            GifParser shorter(bytes.data(), bytes.size() - 1);
            EXPECT_EQ(shorter.SkipBlock(), 0) << c.name;
            EXPECT_EQ(shorter.ReadPos(), kHead) << c.name;
        }
    }
}

TEST(GifParser, SubBlockChains)
{
    const std::string data = gb::Screen(1, 1) + std::string(
                                                    "\x00\x02"
                                                    "ab\x00\x01",
                                                    6);
    std::vector<unsigned char> bytes = gb::Bytes(data);
    GifParser parser(bytes.data(), bytes.size());
    EXPECT_EQ(parser.SubBlockChainLength(kHead), 1);
    EXPECT_EQ(parser.SubBlockChainLength(kHead + 1), 4);
    EXPECT_EQ(parser.SubBlockChainLength(kHead + 5), -1);  // size 1, then nothing
    EXPECT_EQ(parser.SubBlockChainLength(bytes.size()), -1);
    EXPECT_EQ(parser.SubBlockChainLength(bytes.size() + 100), -1);
}

TEST(GifParser, RecognisesOnlyGif87aAndGif89a)
{
    const struct {
        std::string data;
        bool gif;
    } cases[] = {
        {gb::Screen(1, 1, true, "89a"), true},
        {gb::Screen(1, 1, true, "87a"), true},
        {gb::Screen(1, 1, true, "90a"), false},
        {"GIF8", false},
        {"\xFF\xD8\xFF\xE0", false},
        {"", false},
    };
    for (const auto& c : cases) {
        std::vector<unsigned char> bytes = gb::Bytes(c.data);
        GifParser parser(bytes.empty() ? nullptr : bytes.data(), bytes.size());
        EXPECT_EQ(parser.IsGifStream(), c.gif) << c.data;
    }
    std::vector<unsigned char> screen = gb::Bytes(gb::Screen(300, 2));
    GifParser parser(screen.data(), screen.size());
    EXPECT_EQ(parser.ScreenWidth(), 300);
    EXPECT_EQ(parser.ScreenHeight(), 2);
    EXPECT_TRUE(parser.HasScreen());
    EXPECT_EQ(parser.ColorTableBytes(), 12u);
}

TEST(GifParser, ColorTableSizes)
{
    EXPECT_EQ(picture::ColorTableSize(0x00), 0u);
    EXPECT_EQ(picture::ColorTableSize(0x07), 0u);
    EXPECT_EQ(picture::ColorTableSize(0x80), 6u);
    EXPECT_EQ(picture::ColorTableSize(0x81), 12u);
    EXPECT_EQ(picture::ColorTableSize(0xF7), 768u);
}

// The head LoadFile reads alone must be judged as the parser judges the whole stream.
TEST(GifParser, HeadAloneJudgesTheScreenAsTheWholeStreamDoes)
{
    const std::string whole =
        gb::Screen(300, 200) + gb::SolidImage(0, 0, 4, 4, gb::kRed) + gb::Trailer();
    const struct {
        const char* name;
        std::string stream;
        picture::GifHead kind;
    } cases[] = {
        {"whole GIF", whole, picture::GifHead::Screen},
        {"screen and table only", whole.substr(0, kHead), picture::GifHead::Screen},
        {"cut inside the colour table", whole.substr(0, kHead - 1), picture::GifHead::NoScreen},
        {"cut inside the screen", whole.substr(0, 12), picture::GifHead::NoScreen},
        {"signature only", whole.substr(0, 6), picture::GifHead::NoScreen},
        {"no table", gb::Screen(7, 9, false), picture::GifHead::Screen},
        {"unknown version", "GIF90a" + whole.substr(6), picture::GifHead::NotGif},
        {"too short to say", whole.substr(0, 5), picture::GifHead::NotGif},
        {"not a GIF", std::string(40, 'x'), picture::GifHead::NotGif},
    };
    for (const auto& c : cases) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(c.stream.data());
        const std::size_t head = c.stream.size() < picture::kScreenHeaderBytes
                                     ? c.stream.size()
                                     : picture::kScreenHeaderBytes;
        const picture::GifScreen screen = picture::ReadGifScreen(bytes, head, c.stream.size());
        EXPECT_EQ(screen.kind, c.kind) << c.name;
        const GifParser parser(bytes, c.stream.size());
        EXPECT_EQ(screen.kind != picture::GifHead::NotGif, parser.IsGifStream() == 1) << c.name;
        if (!parser.IsGifStream()) continue;
        EXPECT_EQ(screen.kind == picture::GifHead::Screen, parser.HasScreen() == 1) << c.name;
        EXPECT_EQ(screen.nWidth, parser.ScreenWidth()) << c.name;
        EXPECT_EQ(screen.nHeight, parser.ScreenHeight()) << c.name;
    }
}
