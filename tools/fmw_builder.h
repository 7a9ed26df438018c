#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane::fwbuild {

// Writes test firmware files byte by byte from a description; every CRC is computed here,
// independently of the reader, so a reader fault cannot hide behind a builder sharing it.

struct MarkSpec {
    uint32_t tag = 0;
    std::string text;  // stored with a terminating zero unless bRaw
    bool bRaw = false;
    std::optional<int32_t> start;  // default: behind the mark table, in mark order
    std::optional<uint32_t> size;  // default: the bytes stored
};

struct ImageSpec {
    uint32_t size = 0;                   // bytes of generated content; 0 leaves the slot empty
    std::optional<uint32_t> start;       // stored start instead of the real one
    std::optional<uint32_t> storedSize;  // stored size instead of the real one
};

enum class Damage { kNone, kMagic, kFileCrc, kHeaderCrc, kFaCrc, kVaMarkCrc, kImageCrc };

struct PackageSpec {
    std::string szMagic = "QVRFMW22";
    int32_t iFmwType = 0;
    std::vector<MarkSpec> vecMarks;
    std::vector<ImageSpec> vecImages;  // slot i; at most 8
    std::optional<uint32_t> headerSize;
    std::optional<uint32_t> vaNums;  // stored count instead of vecMarks.size()
    Damage damage = Damage::kNone;
    int iDamageSlot = 0;  // image slot for Damage::kImageCrc
    uint64_t uPadTo = 0;  // pad the file with zero bytes up to this size
    uint32_t uSeed = 1;   // image content generator
};

constexpr size_t kMaxImages = 8;
constexpr size_t kIpcHeaderSize = 1556;
constexpr size_t kNvrHeaderSize = 692;

// A "QVRFMW22" package whose tag-4 mark holds `version`, with images of the given sizes.
PackageSpec MakePackageSpec(const std::string& version, const std::vector<uint32_t>& imageSizes);

// The bytes of the package described. An empty result when the description cannot be laid
// out (more than 8 images, a magic that is not 8 characters).
std::string BuildPackage(const PackageSpec& plan);

// Recomputes every CRC of package bytes from the fields they hold (image, fixed-area, mark
// table, header, file CRC, in that order), reading only bytes that exist. For tests that
// patch a field and want the package otherwise right. With `images` false the stored image
// CRCs are kept as they are.
void SignPackage(std::string* bytes, bool images = true);

// Flips the bits of one stored CRC (or the first magic byte).
void DamagePackage(std::string* bytes, Damage damage, int slot);

// "FIRMWARE" (1556-byte header, version text at 296) and "FIRMWNVR" (692-byte header, version
// text at 8) files, padded with zero bytes up to `padTo`.
std::string BuildIpcHeaderFile(const std::string& version, uint64_t padTo, bool damageMagic);
std::string BuildNvrHeaderFile(const std::string& version, uint64_t padTo, bool damageMagic);

// Little-endian field access for tests that patch packages.
uint32_t GetU32(const std::string& bytes, size_t at);
void PutU32(std::string* bytes, size_t at, uint32_t value);

}  // namespace orvane::fwbuild
