// Message tables, windows and the controls the program uses.
#include "framework/framework.h"

#include <map>
#include <memory>
#include <vector>

namespace {

// The window property that binds a window to its CWnd object.
constexpr char kWindowObjectProperty[] = "MorvaneFrameworkWnd";

}  // namespace

// --- CCmdTarget -------------------------------------------------------------

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, AfxSig::End, nullptr, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT message, UINT code, UINT id) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->entries; e->sig != AfxSig::End; ++e) {
            if (e->message != message) continue;
            if (message == WM_COMMAND && (e->code != code || e->id != id)) continue;
            return e;
        }
    }
    return nullptr;
}

bool CCmdTarget::OnCmdMsg(UINT id, UINT code) {
    const AFX_MSGMAP_ENTRY* e = FindMessageEntry(WM_COMMAND, code, id);
    if (e == nullptr || e->sig != AfxSig::Command) return false;
    (this->*(e->pfnCommand))();
    return true;
}

// --- CWnd -------------------------------------------------------------------

CWnd::~CWnd() {
    if (m_hWnd != nullptr && m_pfnSuper != nullptr) UnsubclassWindow();
}

void CWnd::Attach(HWND hWnd, CWnd* wnd) { ::SetPropA(hWnd, kWindowObjectProperty, static_cast<HANDLE>(wnd)); }

CWnd* CWnd::FromPermanentHandle(HWND hWnd) {
    if (hWnd == nullptr) return nullptr;
    return static_cast<CWnd*>(::GetPropA(hWnd, kWindowObjectProperty));
}

void CWnd::Detach(HWND hWnd) { ::RemovePropA(hWnd, kWindowObjectProperty); }

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (hWnd == nullptr) return nullptr;
    if (CWnd* wnd = FromPermanentHandle(hWnd)) return wnd;
    // One wrapper per window handle: bounded by the windows the program has.
    static std::map<HWND, std::unique_ptr<CWnd>> temporaries;
    std::unique_ptr<CWnd>& slot = temporaries[hWnd];
    if (!slot) slot = std::make_unique<CWnd>();
    slot->m_hWnd = hWnd;
    return slot.get();
}

CWnd* CWnd::GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }

void CWnd::SetWindowText(const char* text) { ::SetWindowTextA(m_hWnd, text); }

void CWnd::GetWindowText(std::string& text) const {
    int length = ::GetWindowTextLengthA(m_hWnd);
    if (length <= 0) {
        text.clear();
        return;
    }
    std::vector<char> buf(static_cast<size_t>(length) + 1, '\0');
    int got = ::GetWindowTextA(m_hWnd, buf.data(), length + 1);
    text.assign(buf.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

std::string CWnd::GetWindowTextString() const {
    std::string text;
    GetWindowText(text);
    return text;
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
    if (caption == nullptr && AfxGetApp() != nullptr) caption = AfxGetApp()->m_pszAppName;
    return ::MessageBoxA(m_hWnd, text, caption, type);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

void CWnd::SetFocus() { ::SetFocus(m_hWnd); }

BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }

BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    if (parent == nullptr) return FALSE;
    HWND child = ::GetDlgItem(parent->m_hWnd, static_cast<int>(id));
    return child != nullptr && SubclassWindow(child);
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (hWnd == nullptr || m_hWnd != nullptr || FromPermanentHandle(hWnd) != nullptr) return FALSE;
    m_hWnd = hWnd;
    Attach(hWnd, this);
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
    return TRUE;
}

HWND CWnd::UnsubclassWindow() {
    HWND hWnd = m_hWnd;
    if (hWnd == nullptr) return nullptr;
    if (m_pfnSuper != nullptr) ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    Detach(hWnd);
    m_pfnSuper = nullptr;
    m_hWnd = nullptr;
    return hWnd;
}

void CWnd::DoDataExchange(CDataExchange*) {}

LRESULT CWnd::Default() { return DefWindowProc(m_current.message, m_current.wParam, m_current.lParam); }

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper != nullptr) return ::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COMMAND) {
        const AFX_MSGMAP_ENTRY* e = FindMessageEntry(message, 0, 0);
        if (e != nullptr && e->sig == AfxSig::Char) {
            (this->*(e->pfnChar))(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
            return 0;
        }
    }
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CALLBACK CWnd::SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = FromPermanentHandle(hWnd);
    if (wnd == nullptr) return ::DefWindowProcA(hWnd, message, wParam, lParam);
    LRESULT result = 0;
    const CurrentMessage saved = wnd->m_current;
    wnd->m_current = {message, wParam, lParam};
    // No C++ exception may unwind through user32.
    try {
        result = wnd->WindowProc(message, wParam, lParam);
    } catch (...) {
        result = 0;
    }
    wnd->m_current = saved;
    if (message == WM_NCDESTROY) wnd->UnsubclassWindow();
    return result;
}

// --- controls ---------------------------------------------------------------

void CEdit::SetLimitText(UINT maxChars) { SendMessage(EM_LIMITTEXT, maxChars, 0); }

void CEdit::SetSel(int start, int end) { SendMessage(EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end)); }

int CComboBox::AddString(const char* text) {
    return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}

int CComboBox::SetCurSel(int index) {
    return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index), 0));
}

int CComboBox::GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL, 0, 0)); }

CWnd* CSpinButtonCtrl::SetBuddy(CWnd* buddy) {
    HWND old =
        reinterpret_cast<HWND>(SendMessage(UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy ? buddy->m_hWnd : nullptr), 0));
    return FromHandle(old);
}

void CSpinButtonCtrl::SetRange32(int lower, int upper) {
    SendMessage(UDM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
}
