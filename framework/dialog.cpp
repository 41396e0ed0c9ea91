// Modal dialogs from templates, and data exchange with their controls.
#include "framework/framework.h"

#include <string>

namespace {

// Thrown by a failed check; caught by UpdateData, never outside the framework.
struct DataExchangeFailure {};

}  // namespace

// --- CDialog ----------------------------------------------------------------

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    AfxInitCommonControls();
    HWND parent = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr;
    return ::DialogBoxParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), parent, &CDialog::DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(int result) { ::EndDialog(m_hWnd, result); }

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const DataExchangeFailure&) {
        return FALSE;
    }
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;  // the platform focuses the first tab stop
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;  // the check has told the user; stay open
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM) {
    const UINT id = LOWORD(wParam);
    const UINT code = HIWORD(wParam);
    if (OnCmdMsg(id, code)) return TRUE;
    // Commands the dialog does not handle go on to the application.
    if (code == 0 && AfxGetApp() != nullptr && AfxGetApp()->OnCmdMsg(id, code)) return TRUE;
    return FALSE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // No C++ exception may unwind through user32.
    try {
        if (message == WM_INITDIALOG) {
            CDialog* dlg = reinterpret_cast<CDialog*>(lParam);
            dlg->m_hWnd = hWnd;
            Attach(hWnd, dlg);
            return dlg->OnInitDialog();
        }
        CDialog* dlg = static_cast<CDialog*>(FromPermanentHandle(hWnd));
        if (dlg == nullptr) return FALSE;
        switch (message) {
            case WM_COMMAND: return dlg->OnCommand(wParam, lParam);
            case WM_NCDESTROY:
                Detach(hWnd);
                dlg->m_hWnd = nullptr;
                return FALSE;
            default: return FALSE;
        }
    } catch (...) {
        return FALSE;
    }
}

// --- data exchange ----------------------------------------------------------

CDataExchange::CDataExchange(CWnd* dlgWnd, BOOL saveAndValidate)
    : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dlgWnd) {}

HWND CDataExchange::PrepareCtrl(int id) {
    HWND control = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
    m_hWndLastControl = control;
    m_bEditLastControl = false;
    return control;
}

HWND CDataExchange::PrepareEditCtrl(int id) {
    HWND control = PrepareCtrl(id);
    m_bEditLastControl = true;
    return control;
}

void CDataExchange::Fail() {
    if (m_hWndLastControl != nullptr) {
        ::SetFocus(m_hWndLastControl);
        if (m_bEditLastControl) ::SendMessageA(m_hWndLastControl, EM_SETSEL, 0, -1);
    }
    throw DataExchangeFailure{};
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.m_hWnd != nullptr) return;  // bound at the first exchange only
    HWND child = pDX->PrepareCtrl(id);
    if (child != nullptr) control.SubclassWindow(child);
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
    HWND edit = pDX->PrepareEditCtrl(id);
    if (pDX->m_bSaveAndValidate) {
        value = CWnd::FromHandle(edit)->GetWindowTextString();
    } else {
        ::SetWindowTextA(edit, value.c_str());
    }
}

void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int maxChars) {
    if (!pDX->m_bSaveAndValidate) {
        // Loading: the edit itself refuses typed or pasted text beyond the limit.
        if (HWND edit = pDX->LastControl()) ::SendMessageA(edit, EM_LIMITTEXT, static_cast<WPARAM>(maxChars), 0);
        return;
    }
    if (value.size() > static_cast<size_t>(maxChars)) {
        std::wstring prompt = AfxLoadStockString(AFX_IDP_PARSE_STRING_SIZE);
        const std::wstring count = std::to_wstring(maxChars);
        if (size_t at = prompt.find(L"%1"); at != std::wstring::npos) prompt.replace(at, 2, count);
        AfxStockMessageBox(prompt, MB_ICONEXCLAMATION | MB_OK);
        pDX->Fail();
    }
}
