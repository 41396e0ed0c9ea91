// Who may open a file, as Windows tells it: the SID of the user running this
// program on one line, then the file's access list (DACL) in SDDL, e.g.
//   S-1-5-21-0-0-0-1000
//   D:P(A;;FA;;;S-1-5-21-0-0-0-1000)
// For the end-to-end tests, which read it under Wine.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstdint>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: file_access FILE\n");
        return 2;
    }
    HANDLE token = nullptr;
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 1;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<std::uintptr_t> user(size / sizeof(std::uintptr_t) + 1);
    const bool read = GetTokenInformation(token, TokenUser, user.data(), size, &size);
    CloseHandle(token);
    LPWSTR sid = nullptr;
    if (!read || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) return 1;

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD code = GetNamedSecurityInfoW(argv[1], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                             &dacl, nullptr, &descriptor);
    LPWSTR text = nullptr;
    if (code != ERROR_SUCCESS || !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                                     descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        std::fprintf(stderr, "file_access: cannot read the access list (error %lu)\n",
                     code != ERROR_SUCCESS ? code : GetLastError());
        return 1;
    }
    std::printf("%ls\n%ls\n", sid, text);
    LocalFree(text);
    LocalFree(descriptor);
    LocalFree(sid);
    return 0;
}
