// Placeholder until the update dialog is built: start-up only needs to construct and run it.
#pragma once
#include "win/dialog.h"
#include "resource.h"

class CMorvaneDlg : public win::ModalDialog {
public:
    CMorvaneDlg() : win::ModalDialog(IDD_MORVANE_DIALOG) {}
};
