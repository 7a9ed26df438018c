#include "protocol/report_stage.h"

#include "protocol/device_message.h"

namespace orvane {

namespace {

constexpr bool StartsWith(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix) {
        if (*text != *prefix) {
            return false;
        }
    }
    return true;
}

constexpr int Length(const char* text) {
    int n = 0;
    while (text[n]) {
        ++n;
    }
    return n;
}

// Each kind's upgrade ends at exactly one stage: with none a success is never counted, with two
// a device would be counted at the first and its later reports would start a new row.
constexpr bool OneLastStageEach() {
    int ipc = 0;
    int nvr = 0;
    for (const ReportStage& stage : kReportStages) {
        ipc += stage.bLastOfIpc ? 1 : 0;
        nvr += stage.bLastOfNvr ? 1 : 0;
    }
    return ipc == 1 && nvr == 1;
}
static_assert(OneLastStageEach(), "each device kind needs exactly one last stage");

// Keywords are tried in order and match the start of the "Msg:" value (its first
// kMaxMsgWord bytes): a keyword that begins with an earlier one, or is longer than that, would
// never be told apart.
constexpr bool KeywordsDistinct() {
    for (int i = 0; i < kReportStageCount; ++i) {
        const char* keyword = kReportStages[i].szKeyword;
        if (Length(keyword) > kMaxMsgWord || StartsWith(keyword, kRequestKeyword)) {
            return false;
        }
        for (int j = 0; j < i; ++j) {
            if (StartsWith(keyword, kReportStages[j].szKeyword)) {
                return false;
            }
        }
    }
    return true;
}
static_assert(KeywordsDistinct(), "a report keyword is hidden by an earlier one");

}  // namespace

const ReportStage* FindReportStage(int event) {
    if (event < 0 || event >= kReportStageCount) {
        return nullptr;
    }
    return &kReportStages[event];
}

bool IsLastStage(int deviceKind, int event) {
    const ReportStage* stage = FindReportStage(event);
    if (!stage) {
        return false;
    }
    return deviceKind == kDeviceKindNvr ? stage->bLastOfNvr : stage->bLastOfIpc;
}

int LastStageOf(int deviceKind) {
    for (int event = 0; event < kReportStageCount; ++event) {
        if (IsLastStage(deviceKind, event)) {
            return event;
        }
    }
    return kReportStageCount - 1;  // not reached: every kind has one (asserted above)
}

int StageEventByName(const std::string& name) {
    for (int event = 0; event < kReportStageCount; ++event) {
        if (name == kReportStages[event].szCliName) {
            return event;
        }
    }
    return -1;
}

std::string StageNameList() {
    std::string list;
    for (const ReportStage& stage : kReportStages) {
        list += (list.empty() ? "" : ", ") + std::string(stage.szCliName);
    }
    return list;
}

}  // namespace orvane
