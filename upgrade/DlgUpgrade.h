// The firmware-upgrade panel: a borderless child dialog of the main window, shown in place of the
// network form by the Upgrade tab.
#pragma once

#include "framework/Dialog.h"

class CKorvaleDlg;

class CDlgUpgrade : public fw::CDialog {
public:
    CDlgUpgrade();

    // The owning main window, set before the panel's window is created; the panel reads the
    // selected device from it.
    CKorvaleDlg* m_pMainDlg = nullptr;
};
