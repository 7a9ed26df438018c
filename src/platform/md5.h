#pragma once

#include <cstdio>

namespace orvane::platform {

constexpr int kMd5Size = 16;

// The MD5 digest of what is left to read in `file`, from the system's own cryptography (OpenSSL
// on Linux, CNG on Windows). False on a read error or when the digest is not available.
bool Md5OfStream(std::FILE* file, unsigned char (&digest)[kMd5Size]);

}  // namespace orvane::platform
