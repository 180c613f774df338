#include "platform/automation/zip_package.h"

#include "framework/exceptions.h"

#include <zip.h>

namespace {

// Deflate at the fastest level: the parts are XML, which compresses well at any level, and
// the body of a large document is the hot path of saving it.
constexpr zip_uint32_t CompressionLevel = 1;

} // namespace

ZipPackage::ZipPackage(const std::string& fileName) : FName(fileName)
{
    int error = 0;
    FZip = zip_open(fileName.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!FZip) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        std::string msg = zip_error_strerror(&ze);
        zip_error_fini(&ze);
        throw EFCreateError::CannotCreate(fileName, msg);
    }
}

ZipPackage::~ZipPackage()
{
    if (FZip) zip_discard(FZip);
}

zip_source_t* ZipPackage::Check(const std::string& name, zip_source_t* source)
{
    if (!source) throw EStreamError("Cannot add '" + name + "' to '" + FName + "': " + zip_strerror(FZip));
    return source;
}

int64_t ZipPackage::Add(const std::string& name, zip_source_t* source)
{
    zip_int64_t index = zip_file_add(FZip, name.c_str(), Check(name, source), ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    if (index < 0) {
        zip_source_free(source);
        throw EStreamError("Cannot add '" + name + "' to '" + FName + "': " + zip_strerror(FZip));
    }
    return index;
}

void ZipPackage::AddText(const std::string& name, std::string text)
{
    FTexts.push_back(std::move(text));
    const std::string& t = FTexts.back();
    const int64_t index = Add(name, zip_source_buffer(FZip, t.data(), t.size(), 0));
    zip_set_file_compression(FZip, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, CompressionLevel);
}

void ZipPackage::AddFile(const std::string& name, const std::string& file, int64_t offset, int64_t size,
                         bool compress)
{
    const int64_t index = Add(name, zip_source_file(FZip, file.c_str(), static_cast<zip_uint64_t>(offset), size));
    zip_set_file_compression(FZip, static_cast<zip_uint64_t>(index), compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                             compress ? CompressionLevel : 0);
}

void ZipPackage::CopyFrom(zip_t* source, uint64_t index, const std::string& name)
{
    Add(name, zip_source_zip(FZip, source, index, 0, 0, -1));
}

void ZipPackage::Close()
{
    if (zip_close(FZip) != 0) {
        std::string msg = zip_strerror(FZip);
        throw EStreamError("Cannot write '" + FName + "': " + msg);
    }
    FZip = nullptr;
}
