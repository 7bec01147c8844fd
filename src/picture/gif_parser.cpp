#include "picture/gif_parser.h"

#include <cstring>
#include <limits>
#include <utility>

namespace picture {

namespace {
const unsigned char kExtension = 0x21;
const unsigned char kImageSeparator = 0x2C;
const unsigned char kTrailer = 0x3B;

// Fixed parts of the blocks, counted from the block's first byte.
const std::size_t kApplicationFixed = 14;
const std::size_t kCommentFixed = 2;
const std::size_t kGraphicControlLength = 8;
const std::size_t kPlainTextFixed = 15;
const std::size_t kImageDescriptor = 10;

bool IsRenderingBlock(GifBlockKind kind)
{
    return kind == GifBlockKind::Image || kind == GifBlockKind::PlainText;
}

bool IsPassOverBlock(GifBlockKind kind)
{
    return kind == GifBlockKind::Application || kind == GifBlockKind::Comment;
}
}  // namespace

std::uint32_t ColorTableSize(unsigned char packed)
{
    if ((packed & 0x80) == 0) return 0;
    return 3u * (2u << (packed & 7));
}

GifScreen ReadGifScreen(const unsigned char* head, std::size_t headLength,
                        std::uint64_t streamLength)
{
    GifScreen screen;
    if (!head || !GifParser(head, headLength).IsGifStream()) return screen;
    screen.kind = GifHead::NoScreen;
    if (headLength < kScreenHeaderBytes) return screen;
    if (streamLength < std::uint64_t{kScreenHeaderBytes} + ColorTableSize(head[10])) return screen;
    screen.kind = GifHead::Screen;
    screen.nWidth = static_cast<std::int32_t>(head[6] | head[7] << 8);
    screen.nHeight = static_cast<std::int32_t>(head[8] | head[9] << 8);
    return screen;
}

GifParser::GifParser(const unsigned char* data, std::size_t length)
    : m_pData(data), m_nDataLength(data ? length : 0)
{
    if (Has(0, kScreenHeaderBytes)) m_nColorTableBytes = ColorTableSize(m_pData[10]);
    // A stream cut inside its head (Header, Logical Screen Descriptor, Global Color Table) is
    // judged here, once: nothing of it is read, not even the screen size. It has no frame
    // either, since the walk starts past the end of its data.
    m_bHasScreen = Has(0, kScreenHeaderBytes + m_nColorTableBytes);
    Rewind();
}

bool GifParser::IsGifStream() const
{
    if (!Has(0, 6) || std::memcmp(m_pData, "GIF", 3) != 0) return false;
    return std::memcmp(m_pData + 3, "87a", 3) == 0 || std::memcmp(m_pData + 3, "89a", 3) == 0;
}

bool GifParser::HasScreen() const { return m_bHasScreen; }

std::int32_t GifParser::ScreenWidth() const
{
    return m_bHasScreen ? static_cast<std::int32_t>(ReadU16(6)) : 0;
}

std::int32_t GifParser::ScreenHeight() const
{
    return m_bHasScreen ? static_cast<std::int32_t>(ReadU16(8)) : 0;
}

void GifParser::Rewind() { m_nReadPos = kScreenHeaderBytes + m_nColorTableBytes; }

bool GifParser::Has(std::size_t offset, std::size_t count) const
{
    return offset <= m_nDataLength && count <= m_nDataLength - offset;
}

std::uint32_t GifParser::ReadU16(std::size_t offset) const
{
    return static_cast<std::uint32_t>(m_pData[offset]) |
           (static_cast<std::uint32_t>(m_pData[offset + 1]) << 8);
}

GifBlockKind GifParser::PeekBlockKind() const
{
    if (!Has(m_nReadPos, 1)) return GifBlockKind::Other;
    const unsigned char first = m_pData[m_nReadPos];
    if (first == kImageSeparator) return GifBlockKind::Image;
    if (first == kTrailer) return GifBlockKind::Trailer;
    if (first != kExtension || !Has(m_nReadPos, 2)) return GifBlockKind::Other;
    switch (m_pData[m_nReadPos + 1]) {
    case 0xFF: return GifBlockKind::Application;
    case 0xFE: return GifBlockKind::Comment;
    case 0xF9: return GifBlockKind::GraphicControl;
    case 0x01: return GifBlockKind::PlainText;
    default: return GifBlockKind::Other;
    }
}

std::int32_t GifParser::SubBlockChainLength(std::size_t offset) const
{
    std::size_t pos = offset;
    while (Has(pos, 1)) {
        const std::size_t size = m_pData[pos];
        if (size == 0) {
            const std::size_t length = pos + 1 - offset;
            if (length > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
                return -1;
            return static_cast<std::int32_t>(length);
        }
        pos += size + 1;
    }
    return -1;
}

std::int32_t GifParser::BlockLength() const
{
    std::size_t fixed = 0;
    switch (PeekBlockKind()) {
    case GifBlockKind::Application: fixed = kApplicationFixed; break;
    case GifBlockKind::Comment: fixed = kCommentFixed; break;
    case GifBlockKind::PlainText: fixed = kPlainTextFixed; break;
    case GifBlockKind::GraphicControl:
        // Always 8 bytes, whatever its Block Size byte claims.
        return Has(m_nReadPos, kGraphicControlLength)
                   ? static_cast<std::int32_t>(kGraphicControlLength)
                   : -1;
    case GifBlockKind::Trailer: return 1;
    case GifBlockKind::Image:
        if (!Has(m_nReadPos, kImageDescriptor)) return -1;
        fixed = kImageDescriptor + ColorTableSize(m_pData[m_nReadPos + 9]) + 1;
        break;
    case GifBlockKind::Other: return -1;
    }
    if (!Has(m_nReadPos, fixed)) return -1;
    const std::int32_t chain = SubBlockChainLength(m_nReadPos + fixed);
    if (chain < 0) return -1;
    const std::size_t length = fixed + static_cast<std::size_t>(chain);
    if (length > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return -1;
    return static_cast<std::int32_t>(length);
}

int GifParser::SkipBlock()
{
    if (m_nDataLength == 0) return 0;
    const std::int32_t length = BlockLength();
    if (length <= 0 || !Has(m_nReadPos, static_cast<std::size_t>(length))) return 0;
    m_nReadPos += static_cast<std::size_t>(length);
    return 1;
}

// Passes over Application and Comment extensions, which belong to no frame.
bool GifParser::SkipLeadingExtensions()
{
    while (IsPassOverBlock(PeekBlockKind())) {
        if (!SkipBlock()) return false;
    }
    const GifBlockKind kind = PeekBlockKind();
    return kind == GifBlockKind::GraphicControl || IsRenderingBlock(kind);
}

// From a Graphic Control Extension, moves on to the image or plain text it governs.
bool GifParser::SkipToGraphicBlock()
{
    if (!SkipBlock()) return false;
    for (;;) {
        const GifBlockKind kind = PeekBlockKind();
        if (IsRenderingBlock(kind)) return true;
        if (!IsPassOverBlock(kind) && kind != GifBlockKind::GraphicControl) return false;
        if (!SkipBlock()) return false;
    }
}

int GifParser::SkipFrame()
{
    if (m_nDataLength == 0 || !SkipLeadingExtensions()) return 0;
    if (PeekBlockKind() == GifBlockKind::GraphicControl && !SkipToGraphicBlock()) return 0;
    return SkipBlock();
}

std::uint32_t GifParser::CountFrames()
{
    Rewind();
    std::uint32_t count = 0;
    while (SkipFrame()) ++count;
    return count;
}

void GifParser::ReadGeometry(FrameStream& frame) const
{
    if (PeekBlockKind() == GifBlockKind::Image) {
        frame.nLeft = static_cast<std::int32_t>(ReadU16(m_nReadPos + 1));
        frame.nTop = static_cast<std::int32_t>(ReadU16(m_nReadPos + 3));
        frame.nWidth = static_cast<std::int32_t>(ReadU16(m_nReadPos + 5));
        frame.nHeight = static_cast<std::int32_t>(ReadU16(m_nReadPos + 7));
    } else {
        // A plain text block has no Image Descriptor: its text grid is where it draws.
        frame.nLeft = static_cast<std::int32_t>(ReadU16(m_nReadPos + 3));
        frame.nTop = static_cast<std::int32_t>(ReadU16(m_nReadPos + 5));
        frame.nWidth = static_cast<std::int32_t>(ReadU16(m_nReadPos + 7));
        frame.nHeight = static_cast<std::int32_t>(ReadU16(m_nReadPos + 9));
    }
}

int GifParser::ExtractNextFrame(FrameStream& frame)
{
    if (m_nDataLength == 0 || !SkipLeadingExtensions()) return 0;

    FrameStream result;
    result.nDisposalMethod = 0;
    result.nDelayCs = kNoDelay;
    const std::size_t start = m_nReadPos;
    if (PeekBlockKind() == GifBlockKind::GraphicControl) {
        // Read its fields only once the whole 8-byte block is known to be there.
        if (BlockLength() <= 0) return 0;
        result.nDelayCs = ReadU16(start + 4);
        result.nDisposalMethod = (m_pData[start + 3] >> 2) & 7u;
        if (!SkipToGraphicBlock()) return 0;
    }
    // The graphic block's fixed part is known to be there only once its length checks out.
    if (BlockLength() <= 0) return 0;
    ReadGeometry(result);
    if (!SkipBlock()) return 0;

    // A frame was walked, so the head it is copied after is whole (see the constructor).
    const std::size_t head = kScreenHeaderBytes + m_nColorTableBytes;
    const std::size_t span = m_nReadPos - start;
    result.bytes.reserve(head + span + 1);
    result.bytes.assign(m_pData, m_pData + head);
    result.bytes.insert(result.bytes.end(), m_pData + start, m_pData + m_nReadPos);
    result.bytes.push_back(kTrailer);
    frame = std::move(result);
    return 1;
}

}  // namespace picture
