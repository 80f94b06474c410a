// Dialogs made from templates in the resources, modal (DoModal) or as a child panel (Create),
// and the data exchange that moves values between a dialog's controls and its members.
#pragma once

#include "Wnd.h"

#include <string>

namespace fw {

class CDialog;

// One pass of data exchange: save == true reads controls into members (UpdateData(TRUE)),
// false writes members into controls. No exchange validates, so a pass never fails.
class CDataExchange {
public:
    CDataExchange(CDialog& dialog, bool save) : m_dialog(dialog), m_bSaveAndValidate(save) {}

    CWindow Item(int id) const;

    CDialog& m_dialog;
    const bool m_bSaveAndValidate;
};

// Attaches a control object to the dialog item the first time the exchange runs.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
// Window text of any control.
void DDX_Text(CDataExchange* dx, int id, std::wstring& value);
// Check box state: 0 clear, 1 checked, 2 indeterminate.
void DDX_Check(CDataExchange* dx, int id, int& value);
// IP address control value: the first octet in the most significant byte; a blank control
// reads as 0.
void DDX_IPAddress(CDataExchange* dx, int id, DWORD& value);

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId) : m_templateId(templateId) {}

    // Runs the dialog modally; returns the value given to EndDialog, or -1 when the dialog
    // could not be created.
    INT_PTR DoModal();
    // Creates the dialog modeless, as a child of `parent` when the template says so.
    BOOL Create(UINT templateId, CWnd* parent);
    void EndDialog(int result) const { ::EndDialog(m_hWnd, result); }

    BOOL UpdateData(BOOL saveAndValidate = TRUE);

protected:
    virtual void DoDataExchange(CDataExchange*) {}
    // Runs the first data exchange (members into controls); returns TRUE to let the dialog
    // manager place the focus.
    virtual BOOL OnInitDialog();
    // IDOK: controls into members, then end with IDOK.
    virtual void OnOK();
    // IDCANCEL: end with IDCANCEL.
    virtual void OnCancel();

    DECLARE_MESSAGE_MAP()

private:
    static INT_PTR CALLBACK StaticDialogProc(HWND window, UINT message, WPARAM, LPARAM);
    LRESULT HandleInitDialog(WPARAM, LPARAM);

    UINT m_templateId;
};

} // namespace fw
