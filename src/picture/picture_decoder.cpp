#include "picture/picture_decoder.h"

#include <atomic>
#include <cstring>
#include <new>

#include "picture/frame_budget.h"
#include "win/syslib.h"
#include "win/thread.h"

namespace picture {
namespace {

const int kHimetricPerInch = 2540;
// Decode jobs not yet freed: running, abandoned and running, or with a result not yet taken.
std::atomic<long> g_decodesInFlight{0};

// A movable block holding a copy of the bytes, as CreateStreamOnHGlobal wants.
win::GlobalMemory CopyToBlock(const unsigned char* data, std::size_t size)
{
    if (size == 0 || size > MAXDWORD) return win::GlobalMemory();
    win::GlobalMemory block(::GlobalAlloc(GMEM_MOVEABLE, size));
    if (!block) return block;
    {
        const win::GlobalView view(block.get());
        if (!view.get()) return win::GlobalMemory();
        std::memcpy(view.get(), data, size);
    }
    return block;
}

// The stream takes the block and frees it when released, also when decoding fails.
PicturePtr DecodeBlock(win::GlobalMemory block, DWORD size)
{
    Microsoft::WRL::ComPtr<IStream> stream;
    if (!block || FAILED(::CreateStreamOnHGlobal(block.get(), TRUE, &stream))) return nullptr;
    block.release();
    const auto loadPicture = win::OleAut32().OleLoadPicture;
    PicturePtr picture;
    if (!loadPicture || loadPicture(stream.Get(), static_cast<LONG>(size), FALSE, IID_IPicture,
                                    reinterpret_cast<void**>(picture.GetAddressOf())) != S_OK) {
        return nullptr;
    }
    return picture;
}

}  // namespace

PicturePtr DecodeBytes(const unsigned char* data, std::size_t size)
{
    return DecodeBlock(CopyToBlock(data, size), static_cast<DWORD>(size));
}

bool RenderPicture(HDC dc, IPicture* picture, int left, int top, int width, int height)
{
    if (!dc || !picture) return false;
    OLE_XSIZE_HIMETRIC himetricWidth = 0;
    OLE_YSIZE_HIMETRIC himetricHeight = 0;
    picture->get_Width(&himetricWidth);
    picture->get_Height(&himetricHeight);
    // Source from the bottom up with a negative height: HIMETRIC runs upwards.
    return picture->Render(dc, left, top, width, height, 0, himetricHeight, himetricWidth,
                           -himetricHeight, nullptr) == S_OK;
}

SIZE NaturalPixelSize(IPicture* picture, HDC dc)
{
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    picture->get_Width(&width);
    picture->get_Height(&height);
    return SIZE{::MulDiv(width, ::GetDeviceCaps(dc, LOGPIXELSX), kHimetricPerInch),
                ::MulDiv(height, ::GetDeviceCaps(dc, LOGPIXELSY), kHimetricPerInch)};
}

std::size_t HeldBytes(IPicture* picture)
{
    SHORT type = PICTYPE_UNINITIALIZED;
    OLE_HANDLE handle = 0;
    BITMAP bitmap{};
    if (picture && SUCCEEDED(picture->get_Type(&type)) && type == PICTYPE_BITMAP &&
        SUCCEEDED(picture->get_Handle(&handle)) &&
        ::GetObjectW(reinterpret_cast<HGDIOBJ>(static_cast<UINT_PTR>(handle)), sizeof bitmap,
                     &bitmap) == sizeof bitmap) {
        return BitmapBytes(bitmap.bmWidthBytes, bitmap.bmHeight);
    }
    // Not a bitmap: count it as 32-bit pixels at 96 dots per inch.
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    if (picture) {
        picture->get_Width(&width);
        picture->get_Height(&height);
    }
    return PictureBytes(width, height);
}

DecodeJob::DecodeJob() : win::DeadlineJob(Apartment::MultiThreaded) { ++g_decodesInFlight; }

// The picture of an abandoned job is released here, on the pool thread inside the apartment
// that made it, before the count drops.
DecodeJob::~DecodeJob()
{
    m_result.Reset();
    --g_decodesInFlight;
}

win::Shared<DecodeJob> DecodeJob::Start(const unsigned char* data, std::size_t size)
{
    // The pool thread holds its own reference, so the job outlives a waiter that gave up.
    win::Shared<DecodeJob> job(new (std::nothrow) DecodeJob);
    if (!job) return job;
    job->m_block = CopyToBlock(data, size);
    job->m_nSize = static_cast<DWORD>(size);
    if (!job->m_block || !job->DeadlineJob::Start()) return win::Shared<DecodeJob>();
    return job;
}

// The decoder makes its codec objects through COM; the job's thread is in the multithreaded
// apartment and has no window.
void DecodeJob::Run() { m_result = DecodeBlock(std::move(m_block), m_nSize); }

long DecodeJob::InFlight() { return g_decodesInFlight.load(); }

}  // namespace picture
