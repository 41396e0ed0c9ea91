#include <windows.h>

#include "cli/journal/mapped_file.h"
#include "cli/windows/system_error.h"
#include "cli/windows/utf16.h"
#include "common/scoped_handle.h"

namespace morvane::cli {

namespace {

class WindowsMappedFile : public MappedFile {
public:
    WindowsMappedFile(const void* view, std::size_t size) : view_(view), size_(size) {}
    ~WindowsMappedFile() override {
        if (view_ != nullptr) UnmapViewOfFile(view_);
    }
    std::string_view Bytes() const override { return {static_cast<const char*>(view_), size_}; }

private:
    const void* view_;
    std::size_t size_;
};

}  // namespace

std::unique_ptr<MappedFile> MappedFile::Open(const std::string& path, std::string* error) {
    const ScopedHandle file(CreateFileW(Utf16(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        *error = "cannot read " + path + ": " + SystemMessage(GetLastError());
        return nullptr;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size)) {
        *error = "cannot read " + path + ": " + SystemMessage(GetLastError());
        return nullptr;
    }
    if (size.QuadPart == 0) return std::make_unique<WindowsMappedFile>(nullptr, 0);
    const ScopedHandle mapping(CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    const void* view = mapping ? MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (view == nullptr) {
        *error = "cannot read " + path + ": " + SystemMessage(GetLastError());
        return nullptr;
    }
    return std::make_unique<WindowsMappedFile>(view, static_cast<std::size_t>(size.QuadPart));
}

}  // namespace morvane::cli
