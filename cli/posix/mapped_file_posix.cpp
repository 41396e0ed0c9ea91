#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/journal/mapped_file.h"

namespace morvane::cli {

namespace {

class PosixMappedFile : public MappedFile {
public:
    PosixMappedFile(void* data, std::size_t size) : data_(data), size_(size) {}
    ~PosixMappedFile() override {
        if (size_ > 0) munmap(data_, size_);
    }
    std::string_view Bytes() const override { return {static_cast<const char*>(data_), size_}; }

private:
    void* data_;
    std::size_t size_;
};

}  // namespace

std::unique_ptr<MappedFile> MappedFile::Open(const std::string& path, std::string* error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        *error = path + " is not a regular file";
        return nullptr;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    void* data = nullptr;
    if (size > 0) {
        data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (data == MAP_FAILED) {
            *error = "cannot read " + path + ": " + std::strerror(errno);
            close(fd);
            return nullptr;
        }
        madvise(data, size, MADV_SEQUENTIAL);
    }
    close(fd);
    return std::make_unique<PosixMappedFile>(data, size);
}

}  // namespace morvane::cli
