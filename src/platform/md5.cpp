#include "platform/md5.h"

#include <openssl/evp.h>

#include <memory>

namespace orvane::platform {

namespace {

constexpr size_t kReadSize = 64 * 1024;

struct ContextDeleter {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

}  // namespace

bool Md5OfStream(std::FILE* file, unsigned char (&digest)[kMd5Size]) {
    std::unique_ptr<EVP_MD_CTX, ContextDeleter> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) {
        return false;
    }
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kReadSize]);
    size_t n = 0;
    while ((n = std::fread(buffer.get(), 1, kReadSize, file)) > 0) {
        if (EVP_DigestUpdate(ctx.get(), buffer.get(), n) != 1) {
            return false;
        }
    }
    unsigned int length = 0;
    return !std::ferror(file) && EVP_DigestFinal_ex(ctx.get(), digest, &length) == 1 &&
           length == kMd5Size;
}

}  // namespace orvane::platform
