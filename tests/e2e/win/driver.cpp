// Drives the configuration dialog of a running Morvane.exe from a second
// Windows process, with window messages only, the way a test robot would.
// Reads one command per line on stdin and answers one line on stdout:
// "ok ..." or "err ...". Texts travel as hex-encoded UTF-8, read and written
// in their wide form, so the driver sees the program's Chinese texts whatever
// code page the driver itself runs under.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/common/hex_token.h"

namespace {

HWND g_dialog = nullptr;

std::string ToHex(const std::string& bytes) { return morvane::test::HexToken(bytes); }
std::string FromHex(const std::string& hex) { return morvane::test::ParseHexToken(hex).value_or(std::string()); }

std::string Utf8(const wchar_t* wide) {
    char buf[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, buf, sizeof buf, nullptr, nullptr);
    return buf;
}

std::wstring Wide(const std::string& utf8) {
    wchar_t buf[2048] = {};
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, buf, 2048);
    return buf;
}

std::string WindowText(HWND hwnd) {
    wchar_t buf[1024] = {};
    DWORD_PTR len = 0;
    // Time-bounded: a busy dialog must not hang the driver.
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_NORMAL, 5000, &len)) return "";
    return Utf8(buf);
}

std::string ClassName(HWND hwnd) {
    char buf[256] = {};
    GetClassNameA(hwnd, buf, sizeof buf);
    return buf;
}

struct FindData {
    std::string title;
    DWORD pid;
    HWND exclude;
    HWND found;
};

BOOL CALLBACK FindDialogProc(HWND hwnd, LPARAM lp) {
    auto* fd = reinterpret_cast<FindData*>(lp);
    if (!IsWindowVisible(hwnd) || hwnd == fd->exclude || ClassName(hwnd) != "#32770") return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (fd->pid && pid != fd->pid) return TRUE;
    if (!fd->title.empty() && WindowText(hwnd) != fd->title) return TRUE;
    fd->found = hwnd;
    return FALSE;
}

HWND FindDialog(const std::string& title, DWORD pid, HWND exclude, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        FindData fd{title, pid, exclude, nullptr};
        EnumWindows(FindDialogProc, reinterpret_cast<LPARAM>(&fd));
        if (fd.found) return fd.found;
        if (GetTickCount() - start >= timeoutMs) return nullptr;
        Sleep(20);
    }
}

DWORD DialogProcess() {
    DWORD pid = 0;
    GetWindowThreadProcessId(g_dialog, &pid);
    return pid;
}

// The message box the dialog is showing, if any.
HWND FindMessageBox(DWORD timeoutMs) { return FindDialog("", DialogProcess(), g_dialog, timeoutMs); }

LRESULT Send(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(hwnd, msg, wp, lp, SMTO_NORMAL, 5000, &result);
    return static_cast<LRESULT>(result);
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        size_t j = i;
        while (j < line.size() && line[j] != ' ') ++j;
        if (j > i) out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

std::string Run(const std::vector<std::string>& a) {
    const std::string& cmd = a[0];
    auto arg = [&](size_t i) { return i < a.size() ? a[i] : std::string(); };
    auto num = [&](size_t i) { return std::strtol(arg(i).c_str(), nullptr, 0); };

    if (cmd == "find") {  // find TITLE-HEX TIMEOUT-MS
        g_dialog = FindDialog(FromHex(arg(1)), 0, nullptr, static_cast<DWORD>(num(2)));
        return g_dialog ? "ok" : "err no dialog";
    }
    if (!g_dialog) return "err no dialog found yet";
    if (cmd == "alive") return IsWindow(g_dialog) ? "ok 1" : "ok 0";
    if (cmd == "title") return "ok " + ToHex(WindowText(g_dialog));

    HWND ctl = GetDlgItem(g_dialog, static_cast<int>(num(1)));
    if (cmd == "msgbox") {  // msgbox TIMEOUT-MS: caption and text of the open message box
        HWND box = FindMessageBox(static_cast<DWORD>(num(1)));
        if (!box) return "err no message box";
        HWND text = GetDlgItem(box, 0xFFFF);
        return "ok " + ToHex(WindowText(box)) + " " + ToHex(text ? WindowText(text) : "");
    }
    if (cmd == "dismiss") {  // press OK on the open message box
        HWND box = FindMessageBox(1000);
        if (!box) return "err no message box";
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        for (int i = 0; i < 250 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(20);
        return IsWindow(box) && IsWindowVisible(box) ? "err still there" : "ok";
    }
    if (cmd == "nomsgbox") return FindMessageBox(0) ? "err message box open" : "ok";
    if (cmd == "sync") {  // wait until the dialog's thread takes messages again
        DWORD_PTR r = 0;
        return SendMessageTimeoutA(g_dialog, WM_NULL, 0, 0, SMTO_NORMAL, static_cast<UINT>(num(1)), &r) ? "ok"
                                                                                                        : "err busy";
    }
    if (cmd == "focus") {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(g_dialog, nullptr), &info)) return "err";
        return "ok " + std::to_string(info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0);
    }
    if (!ctl) return "err no control " + arg(1);
    if (cmd == "text") return "ok " + ToHex(WindowText(ctl));
    if (cmd == "settext") {
        std::wstring text = Wide(FromHex(arg(2)));
        DWORD_PTR r = 0;
        SendMessageTimeoutW(ctl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL, 5000, &r);
        return r ? "ok" : "err";
    }
    if (cmd == "class") return "ok " + ClassName(ctl);
    if (cmd == "state") {
        char buf[128];
        std::snprintf(buf, sizeof buf, "ok visible=%d enabled=%d style=%08lx", IsWindowVisible(ctl) ? 1 : 0,
                      IsWindowEnabled(ctl) ? 1 : 0, static_cast<unsigned long>(GetWindowLongA(ctl, GWL_STYLE)));
        return buf;
    }
    if (cmd == "count") return "ok " + std::to_string(Send(ctl, CB_GETCOUNT, 0, 0));
    if (cmd == "cursel") return "ok " + std::to_string(Send(ctl, CB_GETCURSEL, 0, 0));
    if (cmd == "select") return Send(ctl, CB_SETCURSEL, num(2), 0) == num(2) ? "ok" : "err";
    if (cmd == "items") {  // every item of a list, hex, comma-separated
        LRESULT n = Send(ctl, CB_GETCOUNT, 0, 0);
        std::string out = "ok";
        for (LRESULT i = 0; i < n; ++i) {
            wchar_t wide[512] = {};
            DWORD_PTR len = 0;
            SendMessageTimeoutW(ctl, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide), SMTO_NORMAL, 5000, &len);
            out += (i ? "," : " ") + ToHex(Utf8(wide));
        }
        return out;
    }
    if (cmd == "limit") return "ok " + std::to_string(Send(ctl, EM_GETLIMITTEXT, 0, 0));
    if (cmd == "sel") {
        LRESULT r = Send(ctl, EM_GETSEL, 0, 0);
        return "ok " + std::to_string(LOWORD(r)) + " " + std::to_string(HIWORD(r));
    }
    if (cmd == "spinrange") {
        LRESULT r = Send(ctl, UDM_GETRANGE, 0, 0);
        return "ok " + std::to_string(static_cast<short>(HIWORD(r))) + " " +
               std::to_string(static_cast<short>(LOWORD(r)));
    }
    if (cmd == "buddy") {
        HWND buddy = reinterpret_cast<HWND>(Send(ctl, UDM_GETBUDDY, 0, 0));
        return "ok " + std::to_string(buddy ? GetDlgCtrlID(buddy) : 0);
    }
    if (cmd == "char") {  // char ID CODE: type one character into a control
        PostMessageA(ctl, WM_CHAR, static_cast<WPARAM>(num(2)), 1);
        return "ok";
    }
    if (cmd == "key") {  // key ID VK: press and release a key in a control
        SetForegroundWindow(g_dialog);
        PostMessageA(ctl, WM_KEYDOWN, static_cast<WPARAM>(num(2)), 1);
        PostMessageA(ctl, WM_KEYUP, static_cast<WPARAM>(num(2)), 0xC0000001);
        return "ok";
    }
    if (cmd == "click") {
        // A click that starts an exchange blocks the dialog for seconds, so
        // do not wait for it; but wait long enough that the click is taken
        // before anything sent after it (sent messages overtake posted ones).
        DWORD_PTR r = 0;
        SendMessageTimeoutA(ctl, BM_CLICK, 0, 0, SMTO_NORMAL, 300, &r);
        return "ok";
    }
    if (cmd == "spinclick") {  // a click on the upper or lower arrow of an up-down control
        RECT rc{};
        GetClientRect(ctl, &rc);
        int y = arg(2) == "down" ? rc.bottom * 3 / 4 : rc.bottom / 4;
        LPARAM at = MAKELPARAM(rc.right / 2, y);
        DWORD_PTR r = 0;
        SendMessageTimeoutA(ctl, WM_LBUTTONDOWN, MK_LBUTTON, at, SMTO_NORMAL, 2000, &r);
        SendMessageTimeoutA(ctl, WM_LBUTTONUP, 0, at, SMTO_NORMAL, 2000, &r);
        return "ok";
    }
    return "err unknown command " + cmd;
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    char line[4096];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        auto args = Split(s);
        if (args.empty()) continue;
        if (args[0] == "quit") break;
        std::string reply;
        try {
            reply = Run(args);
        } catch (...) {
            reply = "err exception";
        }
        std::printf("%s\n", reply.c_str());
        std::fflush(stdout);
    }
    return 0;
}
