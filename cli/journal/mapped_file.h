// A file's bytes, mapped rather than copied: reading a long journal costs
// one look at it, not a copy and the pages to hold it.
#pragma once
#include <memory>
#include <string>
#include <string_view>

namespace morvane::cli {

class MappedFile {
public:
    // Nothing, with the reason, when the file cannot be read.
    static std::unique_ptr<MappedFile> Open(const std::string& path, std::string* error);
    virtual ~MappedFile() = default;
    virtual std::string_view Bytes() const = 0;
};

}  // namespace morvane::cli
