// Placeholder until the control is built.
#include "picture/picture_ex.h"

CPictureEx::CPictureEx() = default;
CPictureEx::~CPictureEx() = default;
int CPictureEx::LoadFile(const std::wstring&) { return 0; }
int CPictureEx::StartAnimation() { return 0; }
void CPictureEx::StopAnimation() {}
