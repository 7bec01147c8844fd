// The platform picture decoder (OleLoadPicture over a memory stream) and drawing with its
// picture objects. A decode of one frame can run on a pool thread.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <wrl/client.h>

#include <cstddef>

#include "win/handles.h"
#include "win/thread.h"

namespace picture {

using PicturePtr = Microsoft::WRL::ComPtr<IPicture>;

// Decodes a complete picture file (GIF, or any format the decoder takes) from a copy of
// `data`. Null when the decoder rejects it.
PicturePtr DecodeBytes(const unsigned char* data, std::size_t size);

// Draws the whole picture, upright and scaled to the rectangle; false when it does not draw.
bool RenderPicture(HDC dc, IPicture* picture, int left, int top, int width, int height);

// The picture's natural size in pixels at the DC's resolution.
SIZE NaturalPixelSize(IPicture* picture, HDC dc);

// Bytes the decoded picture holds: its bitmap's pixels.
std::size_t HeldBytes(IPicture* picture);

// One decode on a pool thread. The job holds everything the decode touches, so an animation
// that is stopped leaves it to finish alone instead of waiting for the decoder, which cannot
// be interrupted. Shared between the thread and whoever waits for it.
class DecodeJob : public win::DeadlineJob {
public:
    // Copies the bytes and starts the job; null when either fails.
    static win::Shared<DecodeJob> Start(const unsigned char* data, std::size_t size);

    // Done() is signalled when the decode has ended, whatever its outcome; Result() is then
    // the decoded picture, null when the decoder rejected the bytes.
    PicturePtr Result() const { return m_result; }

    // Decode jobs not yet freed, abandoned ones still running included.
    static long InFlight();

private:
    DecodeJob();
    ~DecodeJob() override;
    void Run() override;

    win::GlobalMemory m_block;
    DWORD m_nSize = 0;
    PicturePtr m_result;
};

}  // namespace picture
