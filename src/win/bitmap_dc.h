// A memory DC with a bitmap of its own selected into it: one owner for the three handles.
#pragma once
#include <windows.h>

#include <optional>
#include <utility>

#include "win/handles.h"

namespace win {

class BitmapDc {
public:
    BitmapDc() = default;
    BitmapDc(const BitmapDc&) = delete;
    BitmapDc& operator=(const BitmapDc&) = delete;

    // A DC and a width x height bitmap, both compatible with `like`; false (and empty) when
    // either cannot be made. Whatever the DC held before is dropped first.
    bool Create(HDC like, int width, int height)
    {
        Reset();
        MemoryDc dc(::CreateCompatibleDC(like));
        GdiObject bitmap(::CreateCompatibleBitmap(like, width, height));
        if (!dc || !bitmap) return false;
        m_dc = std::move(dc);
        m_bitmap = std::move(bitmap);
        m_selection.emplace(m_dc.get(), m_bitmap.get());
        return true;
    }

    // The DC's first bitmap goes back in before our bitmap and the DC are deleted.
    void Reset()
    {
        m_selection.reset();
        m_bitmap.reset();
        m_dc.reset();
    }

    HDC get() const { return m_dc.get(); }
    explicit operator bool() const { return m_dc.valid(); }

private:
    MemoryDc m_dc;
    GdiObject m_bitmap;
    // Last, so that it is undone first when the owner is destroyed.
    std::optional<SelectGuard> m_selection;
};

}  // namespace win
