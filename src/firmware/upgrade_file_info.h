#pragma once

#include <cstdint>
#include <vector>

namespace orvane {

// One firmware file of the catalogue. A plain value: request handling copies it whole.
struct UpgradeFileInfo {
    char szVersion[256] = {};     // offered to devices: szModel + "-" + szVerNum
    char szModel[64] = {};        // at most 63 characters
    char szVerNum[64] = {};       // dotted version number, at most 63 characters
    char szFileName[256] = {};    // name inside the upgrade folder, at most 255 bytes
    int32_t iHighestVersion = 0;  // 1 when added; 0 once a same-model record outranks it
    int32_t iNvrFirmware = 0;     // 0 camera firmware, 1 recorder firmware
};

// Where the version text came from: its "_"-separated fields are read differently.
enum FirmwareKind { kFirmwareIpc = 0, kFirmwareNvr = 1 };

// Fills szModel and szVerNum from a version text such as "X_M100_V1.2.3.4" (kind 0: model
// M100, version 1.2.3.4) or "N200_V2.0.0.7" (kind 1). Other kinds leave the record alone.
void ParseFirmwareVersion(const char* text, int kind, UpgradeFileInfo* record);

// Compares two dotted versions read as four decimal integers (missing ones are 0, reading
// stops at the first character that does not fit): 1 a is higher, -1 lower, 0 equal; -2
// when b is empty.
int CompareVersion(const char* a, const char* b);

// The multi-line "#QMDebug <what>, fileInfo...." trace of one record.
void LogUpgradeFileInfo(const char* what, const UpgradeFileInfo& record);

// Removes every record outranked by a record of the same model, keeping the others in
// order and logging each removal. Records without a version number stay and outrank none.
// The caller holds the catalogue lock.
void EraseLowerVersionFiles(std::vector<UpgradeFileInfo>& catalogue);

}  // namespace orvane
