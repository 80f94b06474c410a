#include "Dialog.h"

#include "WinApp.h"

#include <commctrl.h>

namespace fw {
namespace {

// The dialog being created on this thread. The dialog manager sends WM_SETFONT before
// WM_INITDIALOG carries our pointer, so the object is hooked up at the first message it gets.
thread_local CDialog* t_dialogBeingCreated = nullptr;

// Templates name common-control classes (IP address, list view, progress bar) that must be
// registered before the dialog manager creates them.
void RegisterDialogControlClasses()
{
    static const bool registered = [] {
        INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
        return ::InitCommonControlsEx(&classes) != FALSE;
    }();
    (void)registered;
}

class CreationScope {
public:
    explicit CreationScope(CDialog* dialog) : m_outer(t_dialogBeingCreated)
    {
        t_dialogBeingCreated = dialog;
    }
    CreationScope(const CreationScope&) = delete;
    CreationScope& operator=(const CreationScope&) = delete;
    ~CreationScope() { t_dialogBeingCreated = m_outer; }

private:
    CDialog* m_outer;
};

} // namespace

CWindow CDataExchange::Item(int id) const
{
    return m_dialog.GetDlgItem(id);
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control)
{
    if (control.m_hWnd == nullptr)
        control.SubclassDlgItem(id, dx->m_dialog);
}

void DDX_Text(CDataExchange* dx, int id, std::wstring& value)
{
    const CWindow item = dx->Item(id);
    if (item.m_hWnd == nullptr)
        return;
    if (dx->m_bSaveAndValidate)
        value = item.GetWindowText();
    else
        item.SetWindowText(value);
}

void DDX_Check(CDataExchange* dx, int id, int& value)
{
    const CWindow item = dx->Item(id);
    if (item.m_hWnd == nullptr)
        return;
    if (dx->m_bSaveAndValidate)
        value = static_cast<int>(item.SendMessage(BM_GETCHECK));
    else
        item.SendMessage(BM_SETCHECK, static_cast<WPARAM>(value));
}

void DDX_IPAddress(CDataExchange* dx, int id, DWORD& value)
{
    const CWindow item = dx->Item(id);
    if (item.m_hWnd == nullptr)
        return;
    if (dx->m_bSaveAndValidate) {
        DWORD address = 0;
        item.SendMessage(IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
        value = address;
    } else {
        item.SendMessage(IPM_SETADDRESS, 0, static_cast<LPARAM>(value));
    }
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_MESSAGE(WM_INITDIALOG, HandleInitDialog)
    ON_COMMAND(IDOK, OnOK)
    ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

INT_PTR CDialog::DoModal()
{
    RegisterDialogControlClasses();
    CreationScope scope(this);
    const CWnd* mainWindow = CWinApp::Current() ? CWinApp::Current()->m_pMainWnd : nullptr;
    HWND owner = (mainWindow != nullptr && mainWindow != this) ? mainWindow->m_hWnd : nullptr;
    return ::DialogBoxParamW(CWinApp::ResourceInstance(), MAKEINTRESOURCEW(m_templateId), owner,
                             &CDialog::StaticDialogProc, 0);
}

BOOL CDialog::Create(UINT templateId, CWnd* parent)
{
    RegisterDialogControlClasses();
    m_templateId = templateId;
    CreationScope scope(this);
    HWND window =
        ::CreateDialogParamW(CWinApp::ResourceInstance(), MAKEINTRESOURCEW(templateId),
                             parent ? parent->m_hWnd : nullptr, &CDialog::StaticDialogProc, 0);
    return window != nullptr;
}

INT_PTR CALLBACK CDialog::StaticDialogProc(HWND window, UINT, WPARAM, LPARAM)
{
    // Everything a dialog does goes through the subclassed window procedure (CWnd); the dialog
    // manager's default handling then calls this procedure, which adds nothing.
    if (t_dialogBeingCreated != nullptr && FromHandlePermanent(window) == nullptr) {
        CDialog* dialog = t_dialogBeingCreated;
        t_dialogBeingCreated = nullptr;
        dialog->AttachCreated(window);
    }
    return FALSE;
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM)
{
    return OnInitDialog();
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    CDataExchange dx(*this, saveAndValidate != FALSE);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

} // namespace fw
