#include "platform/md5.h"

#include <windows.h>

#include <bcrypt.h>

#include <memory>

namespace orvane::platform {

namespace {

constexpr size_t kReadSize = 64 * 1024;

// The algorithm provider is opened once: opening it is the costly step, and one provider
// serves hashes on many threads.
BCRYPT_ALG_HANDLE Md5Provider() {
    static BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE h = nullptr;
        return BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&h, BCRYPT_MD5_ALGORITHM, nullptr, 0))
                   ? h
                   : nullptr;
    }();
    return provider;
}

struct HashDeleter {
    void operator()(void* h) const { ::BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(h)); }
};

}  // namespace

bool Md5OfStream(std::FILE* file, unsigned char (&digest)[kMd5Size]) {
    BCRYPT_ALG_HANDLE provider = Md5Provider();
    BCRYPT_HASH_HANDLE raw = nullptr;
    if (provider == nullptr ||
        !BCRYPT_SUCCESS(::BCryptCreateHash(provider, &raw, nullptr, 0, nullptr, 0, 0))) {
        return false;
    }
    std::unique_ptr<void, HashDeleter> hash(raw);
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kReadSize]);
    size_t n = 0;
    while ((n = std::fread(buffer.get(), 1, kReadSize, file)) > 0) {
        if (!BCRYPT_SUCCESS(::BCryptHashData(raw, buffer.get(), static_cast<ULONG>(n), 0))) {
            return false;
        }
    }
    return !std::ferror(file) && BCRYPT_SUCCESS(::BCryptFinishHash(raw, digest, kMd5Size, 0));
}

}  // namespace orvane::platform
