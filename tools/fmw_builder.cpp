#include "tools/fmw_builder.h"

#include <zlib.h>

#include <algorithm>

namespace orvane::fwbuild {

namespace {

constexpr size_t kFixedArea = 248;
constexpr size_t kMarkSize = 12;

uint32_t Crc(const std::string& bytes, uint64_t from, uint64_t length) {
    from = std::min<uint64_t>(from, bytes.size());
    length = std::min<uint64_t>(length, bytes.size() - from);
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + from), static_cast<uInt>(length)));
}

uint32_t CrcMore(uint32_t crc, const std::string& bytes, uint64_t from, uint64_t length) {
    return static_cast<uint32_t>(
        crc32_combine(crc, Crc(bytes, from, length), static_cast<z_off_t>(length)));
}

// Deterministic content that differs per slot and seed, so two images never share a CRC.
void AppendContent(std::string* out, uint32_t size, uint32_t seed) {
    uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    size_t at = out->size();
    out->resize(at + size);
    for (uint32_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        (*out)[at + i] = static_cast<char>(x);
    }
}

std::string StoredText(const MarkSpec& m) {
    return m.bRaw ? m.text : m.text + std::string(1, '\0');
}

std::string HeaderFile(const char* magic, size_t headerSize, size_t versionAt,
                       const std::string& version, uint64_t padTo, bool damageMagic) {
    std::string out(headerSize, '\0');
    out.replace(0, 8, magic, 8);
    if (damageMagic) {
        out[0] = static_cast<char>(out[0] ^ 0x20);
    }
    out.replace(versionAt, std::min(version.size(), headerSize - versionAt - 1), version);
    if (padTo > out.size()) {
        out.resize(padTo, '\0');
    }
    return out;
}

}  // namespace

uint32_t GetU32(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = v << 8 | static_cast<uint8_t>(bytes[at + i]);
    }
    return v;
}

void PutU32(std::string* bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
    }
}

PackageSpec MakePackageSpec(const std::string& version, const std::vector<uint32_t>& imageSizes) {
    PackageSpec plan;
    plan.vecMarks.push_back(MarkSpec{4, version, false, std::nullopt, std::nullopt});
    for (uint32_t size : imageSizes) {
        plan.vecImages.push_back(ImageSpec{size, std::nullopt, std::nullopt});
    }
    return plan;
}

std::string BuildPackage(const PackageSpec& plan) {
    if (plan.vecImages.size() > kMaxImages || plan.szMagic.size() != 8) {
        return std::string();
    }
    std::string out(kFixedArea + kMarkSize * plan.vecMarks.size(), '\0');
    out.replace(0, 8, plan.szMagic);
    uint32_t textAt = static_cast<uint32_t>(out.size());
    for (size_t i = 0; i < plan.vecMarks.size(); ++i) {
        const MarkSpec& m = plan.vecMarks[i];
        std::string text = StoredText(m);
        size_t entry = kFixedArea + kMarkSize * i;
        PutU32(&out, entry, m.tag);
        PutU32(&out, entry + 4,
               static_cast<uint32_t>(m.start.value_or(static_cast<int32_t>(textAt))));
        PutU32(&out, entry + 8, m.size.value_or(static_cast<uint32_t>(text.size())));
        out += text;
        textAt += static_cast<uint32_t>(text.size());
    }
    PutU32(&out, 24, plan.headerSize.value_or(static_cast<uint32_t>(out.size())));
    PutU32(&out, 32, static_cast<uint32_t>(plan.iFmwType));
    PutU32(&out, 48, plan.vaNums.value_or(static_cast<uint32_t>(plan.vecMarks.size())));
    for (size_t i = 0; i < plan.vecImages.size(); ++i) {
        const ImageSpec& img = plan.vecImages[i];
        if (img.size == 0 && !img.storedSize) {
            continue;
        }
        size_t slot = 64 + 24 * i;
        PutU32(&out, slot, img.start.value_or(static_cast<uint32_t>(out.size())));
        PutU32(&out, slot + 4, img.storedSize.value_or(img.size));
        AppendContent(&out, img.size, plan.uSeed * 16 + static_cast<uint32_t>(i));
    }
    if (plan.uPadTo > out.size()) {
        out.resize(plan.uPadTo, '\0');
    }
    SignPackage(&out);
    DamagePackage(&out, plan.damage, plan.iDamageSlot);
    return out;
}

void SignPackage(std::string* bytes, bool images) {
    std::string& b = *bytes;
    if (b.size() < kFixedArea) {
        return;
    }
    for (size_t i = 0; images && i < kMaxImages; ++i) {
        size_t slot = 64 + 24 * i;
        uint32_t size = GetU32(b, slot + 4);
        if (size != 0) {
            PutU32(bytes, slot + 8, Crc(b, GetU32(b, slot), size));
        }
    }
    PutU32(bytes, 16, Crc(b, 24, kFixedArea - 24));
    uint64_t vaNums = GetU32(b, 48);
    uint64_t table = std::min<uint64_t>(kMarkSize * vaNums, b.size() - kFixedArea);
    PutU32(bytes, 20, Crc(b, kFixedArea, table));
    // Header stream: fixed area from 24, the mark table, then every text in mark order.
    uint32_t header = Crc(b, 24, kFixedArea - 24 + table);
    for (uint64_t i = 0; i < table / kMarkSize; ++i) {
        size_t entry = kFixedArea + kMarkSize * i;
        uint32_t start = GetU32(b, entry + 4);
        uint32_t size = GetU32(b, entry + 8);
        if (size != 0 && uint64_t{start} + size <= b.size()) {
            header = CrcMore(header, b, start, size);
        }
    }
    PutU32(bytes, 12, header);
    PutU32(bytes, 8, Crc(b, 12, b.size() - 12));
}

void DamagePackage(std::string* bytes, Damage damage, int slot) {
    size_t at = 0;
    switch (damage) {
        case Damage::kNone:
            return;
        case Damage::kMagic:
            (*bytes)[0] = static_cast<char>((*bytes)[0] ^ 0x20);
            return;
        case Damage::kFileCrc:
            at = 8;
            break;
        case Damage::kHeaderCrc:
            at = 12;
            break;
        case Damage::kFaCrc:
            at = 16;
            break;
        case Damage::kVaMarkCrc:
            at = 20;
            break;
        case Damage::kImageCrc:
            // The image CRCs lie inside the fixed area: sign the rest again so only the
            // image check can fail.
            at = 72 + 24 * static_cast<size_t>(std::clamp(slot, 0, 7));
            PutU32(bytes, at, ~GetU32(*bytes, at));
            SignPackage(bytes, false);
            return;
    }
    PutU32(bytes, at, ~GetU32(*bytes, at));
}

std::string BuildIpcHeaderFile(const std::string& version, uint64_t padTo, bool damageMagic) {
    return HeaderFile("FIRMWARE", kIpcHeaderSize, 296, version, padTo, damageMagic);
}

std::string BuildNvrHeaderFile(const std::string& version, uint64_t padTo, bool damageMagic) {
    return HeaderFile("FIRMWNVR", kNvrHeaderSize, 8, version, padTo, damageMagic);
}

}  // namespace orvane::fwbuild
