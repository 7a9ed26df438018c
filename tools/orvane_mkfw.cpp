// orvane-mkfw: writes test firmware files for rehearsing an upgrade, for tests and for the
// device simulator.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tools/fmw_builder.h"

namespace {

using orvane::fwbuild::Damage;

constexpr const char* kDescription =
    "Writes a test firmware file.\n"
    "\n"
    "Kinds:\n"
    "  package  a \"QVRFMW22\" package: fixed header, marks and texts (the version text is\n"
    "           the tag-4 mark), up to eight images of generated content, every CRC right\n"
    "  ipc      a \"FIRMWARE\" file: 1556-byte header, version text at offset 296\n"
    "  nvr      a \"FIRMWNVR\" file: 692-byte header, version text at offset 8\n"
    "\n"
    "Version texts: package and ipc \"X_MODEL_V1.2.3.4\", nvr \"MODEL_V1.2.3.4\".\n"
    "Sizes take a K, M or G suffix (1024-based).\n"
    "\n"
    "Examples:\n"
    "  orvane-mkfw --version X_M100_V1.2.3.4 --image 4M --image 512K M100.bin\n"
    "  orvane-mkfw --kind nvr --version N200_V2.0.0.7 --pad-to 1M N200.bin\n"
    "  orvane-mkfw --version X_M100_V9.9.9.9 --image 1K --corrupt img-crc:0 bad.bin\n";

bool ParseSize(const std::string& text, uint64_t* out) {
    if (text.empty()) {
        return false;
    }
    size_t used = 0;
    unsigned long long v = 0;
    try {
        v = std::stoull(text, &used);
    } catch (const std::exception&) {
        return false;
    }
    std::string suffix = text.substr(used);
    const std::map<std::string, unsigned> shifts{{"", 0},   {"K", 10}, {"k", 10}, {"M", 20},
                                                 {"m", 20}, {"G", 30}, {"g", 30}};
    auto it = shifts.find(suffix);
    if (it == shifts.end() || (v << it->second) >> it->second != v) {
        return false;
    }
    *out = v << it->second;
    return true;
}

bool ParseDamage(const std::string& text, Damage* damage, int* slot) {
    const std::map<std::string, Damage> names{{"", Damage::kNone},
                                              {"magic", Damage::kMagic},
                                              {"file-crc", Damage::kFileCrc},
                                              {"header-crc", Damage::kHeaderCrc},
                                              {"fa-crc", Damage::kFaCrc},
                                              {"vamark-crc", Damage::kVaMarkCrc}};
    auto it = names.find(text);
    if (it != names.end()) {
        *damage = it->second;
        return true;
    }
    if (text.rfind("img-crc", 0) == 0) {
        *damage = Damage::kImageCrc;
        *slot = 0;
        if (text.size() == 9 && text[7] == ':' && text[8] >= '0' && text[8] <= '7') {
            *slot = text[8] - '0';
        } else if (text.size() != 7) {
            return false;
        }
        return true;
    }
    return false;
}

struct Options {
    std::string szKind = "package";
    std::string szVersion;
    std::vector<std::string> vecImages;
    std::vector<std::string> vecMarks;
    std::string szCorrupt;
    std::string szPadTo;
    bool bAlg = false;
    int iFmwType = 0;
    unsigned uSeed = 1;
    std::string szOutput;
};

// The package plan of the options; an error text when they do not make one.
std::string BuildPackageSpec(const Options& o, orvane::fwbuild::PackageSpec* plan) {
    std::vector<uint32_t> sizes;
    for (const std::string& s : o.vecImages) {
        uint64_t size = 0;
        if (!ParseSize(s, &size) || size > 0x7FFFFFFFu) {
            return "bad image size '" + s + "' (at most 2G - 1)";
        }
        sizes.push_back(static_cast<uint32_t>(size));
    }
    if (sizes.size() > orvane::fwbuild::kMaxImages) {
        return "at most 8 images";
    }
    *plan = orvane::fwbuild::MakePackageSpec(o.szVersion, sizes);
    for (const std::string& m : o.vecMarks) {
        size_t eq = m.find('=');
        uint64_t tag = 0;
        if (eq == std::string::npos || !ParseSize(m.substr(0, eq), &tag) || tag > 0xFFFFFFFFu) {
            return "bad mark '" + m + "' (TAG=TEXT)";
        }
        plan->vecMarks.push_back(orvane::fwbuild::MarkSpec{
            static_cast<uint32_t>(tag), m.substr(eq + 1), false, std::nullopt, std::nullopt});
    }
    plan->iFmwType = o.bAlg ? 8 : o.iFmwType;
    plan->szMagic = plan->iFmwType >= 8 ? "QVRALG22" : "QVRFMW22";
    plan->uSeed = o.uSeed;
    return std::string();
}

int Write(const Options& o) {
    uint64_t padTo = 0;
    if (!o.szPadTo.empty() && !ParseSize(o.szPadTo, &padTo)) {
        std::fprintf(stderr, "orvane-mkfw: bad --pad-to size '%s'\n", o.szPadTo.c_str());
        return 2;
    }
    Damage damage = Damage::kNone;
    int slot = 0;
    if (!ParseDamage(o.szCorrupt, &damage, &slot)) {
        std::fprintf(stderr, "orvane-mkfw: bad --corrupt '%s'\n", o.szCorrupt.c_str());
        return 2;
    }
    std::string bytes;
    if (o.szKind == "package") {
        orvane::fwbuild::PackageSpec plan;
        std::string error = BuildPackageSpec(o, &plan);
        if (!error.empty()) {
            std::fprintf(stderr, "orvane-mkfw: %s\n", error.c_str());
            return 2;
        }
        plan.uPadTo = padTo;
        plan.damage = damage;
        plan.iDamageSlot = slot;
        bytes = orvane::fwbuild::BuildPackage(plan);
    } else if (damage != Damage::kNone && damage != Damage::kMagic) {
        std::fprintf(stderr, "orvane-mkfw: --kind %s has no CRC to corrupt\n", o.szKind.c_str());
        return 2;
    } else if (o.szKind == "ipc") {
        bytes = orvane::fwbuild::BuildIpcHeaderFile(o.szVersion, padTo, damage == Damage::kMagic);
    } else {
        bytes = orvane::fwbuild::BuildNvrHeaderFile(o.szVersion, padTo, damage == Damage::kMagic);
    }
    std::ofstream out(o.szOutput, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "orvane-mkfw: cannot write %s\n", o.szOutput.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{kDescription, "orvane-mkfw"};
    Options o;
    app.add_option("--kind", o.szKind, "package, ipc or nvr (default package)")
        ->check(CLI::IsMember({"package", "ipc", "nvr"}));
    app.add_option("--version", o.szVersion, "Version text, e.g. X_M100_V1.2.3.4")->required();
    app.add_option("--image", o.vecImages, "Size of one image (repeat, up to 8; package only)")
        ->allow_extra_args(false);
    app.add_option("--mark", o.vecMarks, "Extra mark TAG=TEXT after the version (package only)")
        ->allow_extra_args(false);
    app.add_flag("--alg", o.bAlg, "Write a \"QVRALG22\" package (fmw_type 8)");
    app.add_option("--fmw-type", o.iFmwType, "Signed fmw_type field (default 0)");
    app.add_option("--corrupt", o.szCorrupt,
                   "Break one thing: magic, file-crc, header-crc, fa-crc, vamark-crc, "
                   "img-crc[:SLOT]");
    app.add_option("--pad-to", o.szPadTo, "Pad the file with zero bytes up to this size");
    app.add_option("--seed", o.uSeed, "Seed of the generated image content (default 1)");
    app.add_option("output", o.szOutput, "File to write")->required();
    CLI11_PARSE(app, argc, argv);
    return Write(o);
}
