#pragma once
// A zip package (.docx, .xlsx) being written: parts from memory, from (ranges of) files,
// or copied unchanged from another package. Nothing reaches the file until Close; an
// unclosed package is discarded, so a failure never leaves half a package behind.

#include <cstdint>
#include <deque>
#include <string>

struct zip;

class ZipPackage {
public:
    // Raises EFCreateError when the file cannot be made.
    explicit ZipPackage(const std::string& fileName);
    ~ZipPackage();
    ZipPackage(const ZipPackage&) = delete;
    ZipPackage& operator=(const ZipPackage&) = delete;

    // Adds a part holding `text` (kept alive until Close), compressed.
    void AddText(const std::string& name, std::string text);
    // Adds a part holding `size` bytes of `file` from `offset` (-1: to its end), compressed
    // or stored as it is (pictures, which are compressed already).
    void AddFile(const std::string& name, const std::string& file, int64_t offset = 0, int64_t size = -1,
                 bool compress = true);
    // Copies entry `index` of the open package `source` unchanged (no recompression).
    void CopyFrom(zip* source, uint64_t index, const std::string& name);
    // Writes the package. Raises EStreamError when it cannot be written.
    void Close();

private:
    struct zip_source* Check(const std::string& name, struct zip_source* source);
    int64_t Add(const std::string& name, struct zip_source* source);

    std::string FName;
    zip* FZip = nullptr;
    std::deque<std::string> FTexts;
};
