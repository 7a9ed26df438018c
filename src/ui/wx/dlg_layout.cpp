#include "ui/wx/dlg_layout.h"

#include <algorithm>

namespace orvane::ui {

namespace {

using K = ControlKind;

// Rows in creation order, which is the keyboard order. The Chinese layout has one text more
// (1022, the end of the sentence around the link); the English layout has no such control.
const std::vector<ControlLayout> kMainWindowControls = {
    {0, K::kStatic, "Local address:", "本机地址：", {11, 13, 54, 8}, {11, 13, 60, 8}},
    {IDC_COMBO_LOCAL_IP, K::kEditCombo, nullptr, nullptr, {68, 11, 84, 30}, {75, 11, 84, 30}},
    {IDC_STATIC_LANGUAGE,
     K::kStatic,
     "Language:",
     "语言(Language)：",
     {155, 13, 36, 9},
     {164, 13, 62, 8}},
    {IDC_COMBO_LANGUAGE, K::kListCombo, nullptr, nullptr, {194, 10, 55, 30}, {227, 9, 58, 30}},
    {IDC_CHECK_FORCED_UPGRADE,
     K::kCheckBox,
     "Forcibly upgrade to an earlier version",
     "强制升级旧版本",
     {253, 9, 126, 12},
     {292, 12, 71, 12}},
    {IDC_CHECK_IP_OCCUPANCY,
     K::kCheckBox,
     "IP occupancy detection",
     "IP占用检测",
     {383, 10, 85, 12},
     {370, 12, 53, 12}},
    {IDC_BTN_BEGIN_UPGRADE,
     K::kButton,
     "Start Upgrade",
     "开始升级",
     {487, 8, 59, 16},
     {455, 8, 50, 16}},
    {0, K::kStatic, "Upgrade file directory:", "升级文件目录：", {11, 35, 69, 8}, {11, 35, 60, 8}},
    {IDC_COMBO_UPGRADE_FOLDER,
     K::kEditCombo,
     nullptr,
     nullptr,
     {87, 32, 333, 30},
     {75, 31, 299, 30}},
    {IDC_BTN_BROWSE, K::kButton, "Browse...", "浏览...", {425, 30, 55, 16}, {383, 30, 58, 16}},
    {IDC_BTN_PAUSE_TEST,
     K::kButton,
     "Pause Test",
     "暂停测试",
     {487, 30, 59, 16},
     {455, 30, 50, 16}},
    {IDC_STATIC_NOTE_IP_CHECK,
     K::kStatic,
     "1. IP usage detection: After this function is enabled, only unused IP addresses are "
     "allocated to the device.",
     "1.IP占用检测：启用后，只会给设备分配未被使用的IP。",
     {11, 51, 450, 8},
     {11, 51, 205, 8}},
    {IDC_STATIC_NOTE_LANGUAGE,
     K::kStatic,
     "2. After the language is changed, the tool language and cloud firmware query language "
     "will be affected. Restart the program to take effect.",
     "2.修改语言后，将影响工具语言及云端固件查询语言，重启程序生效。",
     {11, 63, 533, 8},
     {11, 65, 458, 8}},
    {IDC_STATIC_NOTE_NO_NETWORK,
     K::kStatic,
     "3. If no network is available and firmware is not available locally, you can download "
     "the firmware update from the",
     "3.无网且本地没有固件的场景下，若需要为设备更新固件，请自行前往",
     {11, 75, 352, 10},
     {11, 79, 249, 8}},
    {IDC_LINK_WEBSITE,
     K::kHyperlink,
     "VEXTRA Official Website",
     "VEXTRA官网",
     {360, 75, 96, 10},
     {259, 78, 43, 14}},
    {IDC_STATIC_NOTE_DOWNLOAD, K::kStatic, nullptr, "下载。", {0, 0, 0, 0}, {302, 79, 39, 8}},
    {IDC_STATIC_NOTE_POWER_ON,
     K::kStatic,
     "4. Start the upgrade and power on the device. If the status remains 'The cloud firmware "
     "is downloaded successfully' for 20 seconds, power on the device again.",
     "4.开始升级后，请将需要升级的设备重新通电，如果状态持续20秒处于“云端固件下载成功”，"
     "请再次给设备重新通电。",
     {11, 87, 534, 11},
     {11, 93, 458, 8}},
    {IDC_STATIC_NOTE_FORCED,
     K::kStatic,
     "5. Forced upgrade of old versions: After enabling, the firmware in the upgrade directory "
     "is forced to be used to upgrade the device; otherwise, the device with the same firmware "
     "version as the upgrade will not be upgraded.",
     "5.强制升级旧版本：启用后，强制使用升级目录中的固件对设备进行升级，否则将不对与升级固件"
     "版本相同的设备进行升级。",
     {11, 97, 541, 17},
     {11, 105, 480, 8}},
    {IDC_CHECK_SHOW_ALL,
     K::kCheckBox,
     "Display devices with the same version",
     "显示版本相同的设备",
     {18, 114, 166, 8},
     {20, 117, 88, 10}},
    {IDC_LIST_DEVICE, K::kDeviceList, nullptr, nullptr, {8, 126, 536, 197}, {8, 131, 496, 184}},
    {IDC_STATIC_SUCCESS, K::kStatic, "Successes:", "成功：", {11, 327, 41, 8}, {11, 319, 25, 8}},
    {IDC_STATIC_SUCCESS_COUNT, K::kStatic, "0", "0", {58, 327, 17, 8}, {38, 319, 29, 8}},
    {IDC_STATIC_FAIL, K::kStatic, "Failed:", "失败：", {78, 327, 29, 8}, {75, 319, 25, 8}},
    {IDC_STATIC_FAIL_COUNT, K::kStatic, "0", "0", {110, 327, 29, 8}, {101, 319, 29, 8}},
    {IDC_STATIC_NET_FAILED,
     K::kStatic,
     "Network connection fails, the cloud firmware upgrade function cannot be used",
     "网络连接失败，将无法使用云端固件升级功能",
     {124, 327, 267, 12},
     {117, 319, 209, 8}},
    {IDC_BTN_CLEAR_LIST,
     K::kButton,
     "Clear List",
     "清空列表",
     {494, 323, 50, 14},
     {455, 316, 50, 14}},
};

// Pixels; the status and progress columns are narrower in Chinese.
constexpr int kColumnWidthEnglish[] = {50, 100, 120, 275, 80, 150, 150};
constexpr int kColumnWidthChinese[] = {50, 100, 120, 120, 50, 150, 150};

}  // namespace

const char* const kFirmwarePageUrl = "https://www.vextra.com/firmware-update.html";

DluRect MainWindowSize(bool chinese) {
    return chinese ? DluRect{0, 0, 511, 334} : DluRect{0, 0, 558, 340};
}

const std::vector<ControlLayout>& MainWindowControls() {
    return kMainWindowControls;
}

FreeSpan FreeLineSpan(const ControlLayout& control, bool chinese) {
    const DluRect& own = chinese ? control.chinese : control.english;
    FreeSpan span{0, MainWindowSize(chinese).w};
    for (const ControlLayout& other : kMainWindowControls) {
        const DluRect& r = chinese ? other.chinese : other.english;
        const bool exists =
            other.kind != K::kStatic || (chinese ? other.chineseText : other.englishText);
        const bool sameLine = r.y < own.y + own.h && own.y < r.y + r.h;
        if (&other == &control || !exists || !sameLine) {
            continue;
        }
        // A neighbour is on the side its middle is on (some texts of the layouts run a little
        // into the control that follows them).
        if (2 * r.x + r.w > 2 * own.x + own.w) {
            span.right = std::min(span.right, r.x);
        } else {
            span.left = std::max(span.left, r.x + r.w);
        }
    }
    return span;
}

int DeviceColumnWidth(int column, bool chinese) {
    if (column < 0 || column >= 7) {
        return 0;
    }
    return chinese ? kColumnWidthChinese[column] : kColumnWidthEnglish[column];
}

}  // namespace orvane::ui
