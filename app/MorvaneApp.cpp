#include "app/MorvaneApp.h"

#include "dialog/Morvane2NewDlg.h"
#include "libs/skin/skin.h"

namespace {

constexpr char kSkinFile[] = "XPCorona.ssk";  // found by the skinning library
constexpr LANGID kInterfaceLanguage = 1033;   // English (United States)

}  // namespace

// The first thing the process does, before theApp below is built: every
// library loaded from here on comes from the system folder or the
// program's own folder, never from the current directory or PATH.
const bool g_dllSearchRestricted =
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR) != FALSE;

BEGIN_MESSAGE_MAP(CMorvaneApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CMorvaneApp theApp;

CMorvaneApp::CMorvaneApp() = default;

CMorvaneApp::~CMorvaneApp() = default;

BOOL CMorvaneApp::InitInstance() {
    AfxEnableControlContainer();

    // Before any window exists, so that every window gets the skin's look.
    // A missing or unusable skin leaves the plain look: the result is not used.
    InitializeSkin(kSkinFile);

    // Ask for the English resources; the platform resolves every template and
    // string by id alone, this thread's interface language first.
    SetThreadUILanguage(kInterfaceLanguage);

    CMorvane2NewDlg dlg(nullptr);
    m_pMainWnd = &dlg;
    dlg.DoModal();         // OK and Cancel end the program alike
    m_pMainWnd = nullptr;  // the dialog ends with this function

    // No message loop of our own: the program ends with the dialog.
    return FALSE;
}
