#pragma once

#include <cstdio>
#include <string>

namespace orvane::platform {

constexpr int kSha256Size = 32;

// The SHA-256 digest of what is left to read in `file`, streamed through a fixed buffer, from
// the system's own cryptography (OpenSSL on Linux, CNG on Windows). False on a read error or
// when the digest is not available.
bool Sha256OfStream(std::FILE* file, unsigned char (&digest)[kSha256Size]);

// How a signature check ended.
enum class SignatureCheck {
    kValid,
    kInvalid,  // a well-formed key, and the signature is not its signature of the data
    kBadKey,   // not a PEM public key of a kind this system checks (reason in `error`)
};

// Whether `signature` is the signature of `data` made with the private half of the PEM public
// key `publicKeyPem`: an ECDSA P-256 key with a DER signature over SHA-256 (what
// `openssl dgst -sha256 -sign` writes) or, where the system has it, an Ed25519 key with a
// 64-byte signature of the data itself (`openssl pkeyutl -sign -rawin`). `error` (may be null)
// receives the reason for kBadKey. Never throws.
SignatureCheck VerifySignature(const std::string& publicKeyPem, const std::string& data,
                               const std::string& signature, std::string* error);

}  // namespace orvane::platform
