#include "platform/signature.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>
#include <new>

namespace orvane::platform {

namespace {

constexpr size_t kReadSize = 64 * 1024;

struct ContextDeleter {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

void SetError(std::string* error, const char* text) {
    if (error != nullptr) {
        *error = text;
    }
}

// The key of `pem`, when it is one of the two kinds checked here.
std::unique_ptr<EVP_PKEY, KeyDeleter> ReadPublicKey(const std::string& pem, std::string* error) {
    std::unique_ptr<BIO, BioDeleter> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    std::unique_ptr<EVP_PKEY, KeyDeleter> key(
        bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key) {
        SetError(error, "not a PEM public key");
        return nullptr;
    }
    if (EVP_PKEY_base_id(key.get()) == EVP_PKEY_ED25519) {
        return key;
    }
    // P-256 only: the one curve both systems' cryptography checks.
    char group[64] = {};
    size_t length = 0;
    if (EVP_PKEY_base_id(key.get()) != EVP_PKEY_EC ||
        EVP_PKEY_get_group_name(key.get(), group, sizeof group, &length) != 1 ||
        std::string(group, length) != "prime256v1") {
        SetError(error, "the key is neither ECDSA P-256 nor Ed25519");
        return nullptr;
    }
    return key;
}

}  // namespace

bool Sha256OfStream(std::FILE* file, unsigned char (&digest)[kSha256Size]) {
    std::unique_ptr<EVP_MD_CTX, ContextDeleter> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
        return false;
    }
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kReadSize]);
    if (!buffer) {
        return false;
    }
    size_t n = 0;
    while ((n = std::fread(buffer.get(), 1, kReadSize, file)) > 0) {
        if (EVP_DigestUpdate(ctx.get(), buffer.get(), n) != 1) {
            return false;
        }
    }
    unsigned int length = 0;
    return !std::ferror(file) && EVP_DigestFinal_ex(ctx.get(), digest, &length) == 1 &&
           length == kSha256Size;
}

SignatureCheck VerifySignature(const std::string& publicKeyPem, const std::string& data,
                               const std::string& signature, std::string* error) {
    std::unique_ptr<EVP_PKEY, KeyDeleter> key = ReadPublicKey(publicKeyPem, error);
    if (!key) {
        return SignatureCheck::kBadKey;
    }
    std::unique_ptr<EVP_MD_CTX, ContextDeleter> ctx(EVP_MD_CTX_new());
    // Ed25519 signs the data itself: no digest is named for it.
    const EVP_MD* md = EVP_PKEY_base_id(key.get()) == EVP_PKEY_ED25519 ? nullptr : EVP_sha256();
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key.get()) != 1) {
        SetError(error, "the key cannot check signatures here");
        return SignatureCheck::kBadKey;
    }
    const int verified = EVP_DigestVerify(
        ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
        reinterpret_cast<const unsigned char*>(data.data()), data.size());
    return verified == 1 ? SignatureCheck::kValid : SignatureCheck::kInvalid;
}

}  // namespace orvane::platform
