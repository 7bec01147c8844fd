// Walks the block structure of a GIF stream in place and cuts each frame out as a
// stand-alone one-image GIF. Image data is never decoded here: that is the picture
// decoder's work. Every read stays inside the bytes given.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace picture {

enum class GifBlockKind {
    Other = 0,
    Application = 1,
    Comment = 2,
    GraphicControl = 3,
    PlainText = 4,
    Image = 5,
    Trailer = 6,
};

// Delay of a frame that has no Graphic Control Extension.
constexpr std::uint32_t kNoDelay = 0xFFFFFFFFu;

// Size of the Header plus the Logical Screen Descriptor.
constexpr std::uint32_t kScreenHeaderBytes = 13;

// One frame cut out of the animation: a complete GIF stream with one image.
struct FrameStream {
    std::vector<unsigned char> bytes;
    std::uint32_t nDelayCs = kNoDelay;
    std::uint32_t nDisposalMethod = 0;
    std::int32_t nWidth = 0;
    std::int32_t nHeight = 0;
    std::int32_t nLeft = 0;
    std::int32_t nTop = 0;
};

class GifParser {
public:
    // The bytes must outlive the parser; nothing is copied until a frame is extracted.
    GifParser(const unsigned char* data, std::size_t length);

    // True when the data starts with "GIF87a" or "GIF89a".
    bool IsGifStream() const;
    // True when the Header, Logical Screen Descriptor and Global Color Table all fit. Without
    // them nothing is read: the screen size is 0 and there are no frames.
    bool HasScreen() const;
    std::int32_t ScreenWidth() const;
    std::int32_t ScreenHeight() const;
    std::uint32_t ColorTableBytes() const { return m_nColorTableBytes; }

    std::size_t ReadPos() const { return m_nReadPos; }
    // Puts the parse position on the first block after the Global Color Table.
    void Rewind();

    GifBlockKind PeekBlockKind() const;
    // Length of the block at the parse position; -1 when it is of kind Other or any part of
    // it would lie past the end of the data.
    std::int32_t BlockLength() const;
    // Length of the data sub-block chain starting at `offset`, terminator included;
    // -1 when the chain runs past the end of the data.
    std::int32_t SubBlockChainLength(std::size_t offset) const;
    int SkipBlock();
    int SkipFrame();
    // Cuts out the next frame; 0 (and `frame` untouched) when the walk ends.
    int ExtractNextFrame(FrameStream& frame);
    // Counts the frames from the first block; leaves the position after the last one.
    std::uint32_t CountFrames();

private:
    bool Has(std::size_t offset, std::size_t count) const;
    std::uint32_t ReadU16(std::size_t offset) const;
    bool SkipLeadingExtensions();
    bool SkipToGraphicBlock();
    void ReadGeometry(FrameStream& frame) const;

    const unsigned char* m_pData;
    std::size_t m_nDataLength;
    std::size_t m_nReadPos = 0;
    std::uint32_t m_nColorTableBytes = 0;
    bool m_bHasScreen = false;
};

// Size in bytes of a colour table whose flag and size field sit in `packed`.
std::uint32_t ColorTableSize(unsigned char packed);

// What the first bytes of a stream say, judged as GifParser judges the whole stream.
enum class GifHead {
    NotGif,
    // A GIF whose Header, Logical Screen Descriptor or Global Color Table is cut short.
    NoScreen,
    Screen,
};
struct GifScreen {
    GifHead kind = GifHead::NotGif;
    std::int32_t nWidth = 0;
    std::int32_t nHeight = 0;
};
// `head` holds the first min(kScreenHeaderBytes, streamLength) bytes of a stream of
// `streamLength` bytes.
GifScreen ReadGifScreen(const unsigned char* head, std::size_t headLength,
                        std::uint64_t streamLength);

}  // namespace picture
