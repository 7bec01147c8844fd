// The animated picture control: a static control that shows a picture file, animating GIFs.
#pragma once
#include <windows.h>

#include <string>

#include "win/subclass.h"

class CPictureEx : public win::SubclassedWindow {
public:
    CPictureEx();
    ~CPictureEx() override;

    int LoadFile(const std::wstring& path);
    int StartAnimation();
    void StopAnimation();
};
