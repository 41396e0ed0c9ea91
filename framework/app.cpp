// The application object, the program's entry point and the framework's
// process-wide helpers.
#include "framework/framework.h"

#include <vector>

namespace {

CWinApp* g_app = nullptr;
bool g_controlContainerRequested = false;

// The default application name: the program file's name without directory
// and extension ("Morvane").
std::string ModuleBaseName() {
    char path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path, length < MAX_PATH ? length : 0);
    if (size_t slash = name.find_last_of("\\/"); slash != std::string::npos) name.erase(0, slash + 1);
    if (size_t dot = name.rfind('.'); dot != std::string::npos) name.erase(dot);
    return name;
}

}  // namespace

// --- CWinApp ----------------------------------------------------------------

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(const char* appName) : m_appName(appName != nullptr ? appName : ModuleBaseName()) {
    m_pszAppName = m_appName.c_str();
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

void CWinApp::OnHelp() {}

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetInstanceHandle() {
    if (g_app != nullptr && g_app->m_hInstance != nullptr) return g_app->m_hInstance;
    return ::GetModuleHandleA(nullptr);
}

void AfxEnableControlContainer() { g_controlContainerRequested = true; }

void AfxInitCommonControls() {
    static bool done = false;
    if (done) return;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS};
    done = ::InitCommonControlsEx(&icc) != FALSE;
}

std::string AfxLoadString(UINT id) {
    // Long enough for any string of the program's tables.
    std::vector<char> buf(1024, '\0');
    int length = ::LoadStringA(AfxGetInstanceHandle(), id, buf.data(), static_cast<int>(buf.size()));
    return std::string(buf.data(), length > 0 ? static_cast<size_t>(length) : 0);
}

// The framework's stock messages exist only in Simplified Chinese. Loaded and
// shown in their wide form, they read as Chinese whatever the ANSI code page;
// through the 8-bit calls an English system would show question marks.
std::wstring AfxLoadStockString(UINT id) {
    const wchar_t* text = nullptr;
    int length = ::LoadStringW(AfxGetInstanceHandle(), id, reinterpret_cast<wchar_t*>(&text), 0);
    return length > 0 && text != nullptr ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

int AfxStockMessageBox(const std::wstring& text, UINT type) {
    HWND owner = ::GetActiveWindow();
    if (owner == nullptr && g_app != nullptr && g_app->m_pMainWnd != nullptr) owner = g_app->m_pMainWnd->m_hWnd;
    std::wstring caption;
    if (g_app != nullptr && g_app->m_pszAppName != nullptr) {
        wchar_t wide[MAX_PATH] = {};
        ::MultiByteToWideChar(CP_ACP, 0, g_app->m_pszAppName, -1, wide, MAX_PATH);
        caption = wide;
    }
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

// --- entry point ------------------------------------------------------------

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) return -1;
    app->m_hInstance = instance;
    try {
        // The program runs its one modal dialog inside InitInstance; there is
        // no message loop of the application's own to run after it.
        app->InitInstance();
        return app->ExitInstance();
    } catch (...) {
        return -1;
    }
}
