// A small dialog framework over plain Win32: an application object, windows
// with static message tables, modal dialogs from templates, the few controls
// the program uses and data exchange between controls and members.
// 8-bit ANSI throughout (the A functions of Win32).
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "framework/stock_ids.h"

class CCmdTarget;
class CWnd;
class CWinApp;

// ---------------------------------------------------------------------------
// Message tables. Each class that handles messages declares a static table;
// a lookup walks the class's table, then its base's, up to CCmdTarget.

using AFX_PMSG = void (CCmdTarget::*)();
using AFX_PMSG_CHAR = void (CCmdTarget::*)(UINT, UINT, UINT);

enum class AfxSig { End, Command, Char };

struct AFX_MSGMAP_ENTRY {
    UINT message;  // WM_COMMAND or the window message
    UINT code;     // notification code for WM_COMMAND (0 = command / BN_CLICKED)
    UINT id;       // control or command id for WM_COMMAND
    AfxSig sig;
    AFX_PMSG pfnCommand;
    AFX_PMSG_CHAR pfnChar;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* entries;
};

// The message-table macros are laid out by hand.
// clang-format off
#define DECLARE_MESSAGE_MAP()                          \
protected:                                             \
    static const AFX_MSGMAP* GetThisMessageMap();      \
    const AFX_MSGMAP* GetMessageMap() const override;  \
private:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                           \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }    \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                    \
        using ThisClass [[maybe_unused]] = theClass;                                     \
        using TheBaseClass = baseClass;                                                  \
        static const AFX_MSGMAP_ENTRY messageEntries[] = {

#define END_MESSAGE_MAP()                                                                \
            {0, 0, 0, AfxSig::End, nullptr, nullptr}                                     \
        };                                                                               \
        static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap,          \
                                              &messageEntries[0]};                       \
        return &messageMap;                                                              \
    }

#define ON_COMMAND(id, memberFxn) \
    {WM_COMMAND, 0, static_cast<UINT>(id), AfxSig::Command, static_cast<AFX_PMSG>(memberFxn), nullptr},

#define ON_BN_CLICKED(id, memberFxn) \
    {WM_COMMAND, BN_CLICKED, static_cast<UINT>(id), AfxSig::Command, static_cast<AFX_PMSG>(memberFxn), nullptr},

// Binds WM_CHAR to the class's OnChar(UINT nChar, UINT nRepCnt, UINT nFlags).
#define ON_WM_CHAR() \
    {WM_CHAR, 0, 0, AfxSig::Char, nullptr, static_cast<AFX_PMSG_CHAR>(&ThisClass::OnChar)},
// clang-format on

// ---------------------------------------------------------------------------

class CCmdTarget {
public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    // Runs the handler bound to a WM_COMMAND (id, code); false when none is.
    bool OnCmdMsg(UINT id, UINT code);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT message, UINT code, UINT id) const;
};

// ---------------------------------------------------------------------------

class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    ~CWnd() override;

    HWND m_hWnd = nullptr;

    // The object bound to a window, or a temporary wrapper for one that is
    // not bound (valid until the same window is looked up again).
    static CWnd* FromHandle(HWND hWnd);
    HWND GetSafeHwnd() const { return m_hWnd; }

    CWnd* GetDlgItem(int id) const;
    void SetWindowText(const char* text);
    void GetWindowText(std::string& text) const;
    std::string GetWindowTextString() const;
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    void SetFocus();
    BOOL IsWindowVisible() const;
    BOOL IsWindowEnabled() const;

    // Routes an existing child window's messages through this object's table.
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    BOOL SubclassWindow(HWND hWnd);
    HWND UnsubclassWindow();

    // Data exchange between the controls and the members (dialogs only).
    virtual void DoDataExchange(class CDataExchange* pDX);

protected:
    // Hands the message now being handled to the window's own procedure.
    LRESULT Default();
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    // Binding between a window and its object, kept in a window property.
    static void Attach(HWND hWnd, CWnd* wnd);
    static CWnd* FromPermanentHandle(HWND hWnd);
    static void Detach(HWND hWnd);

private:
    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    struct CurrentMessage {
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
    };
    CurrentMessage m_current;
    WNDPROC m_pfnSuper = nullptr;
};

// ---------------------------------------------------------------------------

class CEdit : public CWnd {
public:
    void SetLimitText(UINT maxChars);
    void SetSel(int start, int end);
};

class CComboBox : public CWnd {
public:
    int AddString(const char* text);
    int SetCurSel(int index);
    int GetCurSel() const;
};

class CSpinButtonCtrl : public CWnd {
public:
    CWnd* SetBuddy(CWnd* buddy);
    void SetRange32(int lower, int upper);
};

// ---------------------------------------------------------------------------
// Data exchange. A failed check throws inside the exchange; UpdateData
// catches it and returns FALSE, so the entries after the failed one are
// not run.

class CDataExchange {
public:
    CDataExchange(CWnd* dlgWnd, BOOL saveAndValidate);

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;

    HWND PrepareCtrl(int id);
    HWND PrepareEditCtrl(int id);
    HWND LastControl() const { return m_hWndLastControl; }
    // Puts the focus on the last prepared edit with its text selected, then
    // ends the exchange.
    [[noreturn]] void Fail();

private:
    HWND m_hWndLastControl = nullptr;
    bool m_bEditLastControl = false;
};

void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int maxChars);

// ---------------------------------------------------------------------------

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    virtual INT_PTR DoModal();
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    void EndDialog(int result);

protected:
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnCommand(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()
};

// ---------------------------------------------------------------------------

class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(const char* appName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    virtual int ExitInstance();

    // The standard Help command. The program ships no help file, so there is
    // nothing to open; the command is accepted and ends here.
    void OnHelp();

    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance = nullptr;
    const char* m_pszAppName = nullptr;

private:
    std::string m_appName;

    DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();

// Dialog templates could host ActiveX controls. This framework has no
// ActiveX host: the call only records that the program asked for one
// (it initialises neither COM nor OLE).
void AfxEnableControlContainer();

// Registers the common control classes the templates use (up-down control).
void AfxInitCommonControls();

// A string-table entry by id alone; the platform picks the language variant.
std::string AfxLoadString(UINT id);

// The framework's own message box: owned by the active window, captioned
// with the application's name.
std::wstring AfxLoadStockString(UINT id);
int AfxStockMessageBox(const std::wstring& text, UINT type);
