#include "support/string_table.h"

#include <cstddef>

#include "support/language.h"

namespace orvane {

namespace {

struct StringEntry {
    int id;
    const char* chinese;
    const char* english;
};

// Ids 101..175 in order, so an id is found by its position; both languages hold every id.
// The wordings (including their slips) are what operators and their documentation know.
constexpr StringEntry kStrings[] = {
    {101, "关于 Orvane(&A)...", "About Orvane(&A)..."},
    {102, "该程序已经启动!", "The program has started!"},
    {103, "编号", "ID"},
    {104, "型号", "Model number"},
    {105, "IP地址", "IP address"},
    {106, "状态", "status"},
    {107, "进度", "schedule"},
    {108, "升级前版本", "Pre-upgrade version"},
    {109, "升级后版本", "Upgraded version"},
    {110, "等待升级", "Waiting for upgrade"},
    {111, "云端固件下载中", "Cloud firmware download"},
    {112, "云端固件下载成功", "The cloud firmware is downloaded successfully."},
    {113, "云端固件下载失败,", "Failed to download the cloud firmware,"},
    {114, "云端固件查询失败:", "Cloud firmware query failed:"},
    {115, "下载成功", "Download successful"},
    {116, "uboot擦写成功", "uboot polish success"},
    {117, "kernel擦写成功", "kernel is written successfully"},
    {118, "升级完成", "Upgrade complete"},
    {119, "配置区烧录成功", "Configuration is written successfully"},
    {120, "开机画面烧录成功", "Logo boot is written successfully"},
    {121, "应用程序烧录成功", "Application program is written successfully"},
    {122, "用户数据烧录成功", "User data is writtten successfully"},
    {123, "升级画面烧录成功", "Logo upgrading is written successfully"},
    {124, "修复画面烧录成功", "Logo upgraded is written successfully"},
    {125, "Uboot参数区烧录成功", "Uboot param is written successfully"},
    {126, "正在下载", "Is downloading"},
    {127, "正在擦写uboot", "Is Writing the uboot"},
    {128, "正在擦写kernel", "Is Writing the kernel"},
    {129, "正在擦写fs", "Is Writing the fs"},
    {130, "正在烧录配置区", "Is writting the Configuration"},
    {131, "正在烧录开机画面", "Is writting the Logo boot"},
    {132, "正在烧录应用程序", "Is writting ths Application program"},
    {133, "正在烧录用户数据区", "Is writtting the User data"},
    {134, "正在烧录升级画面", "Is writting the Logo upgrading"},
    {135, "正在烧录修复画面", "Is writting the Logo upgraded"},
    {136, "正在烧录Uboot参数区", "Is writting the Uboot param"},
    {137, "固件CRC校验失败", "Firmware CRC validation failed"},
    {138, "固件magicNum校验失败", "Firmware magicNum validation failed"},
    {139, "固件大小校验失败", "Firmware size check failed"},
    {140, "固件版本校验失败", "Firmware version validation failed"},
    {141, "下载失败", "Download failed"},
    {142, "uboot擦写失败", "uboot brush failed"},
    {143, "kernel擦写失败", "kernel brush fails"},
    {144, "fs擦写失败", "fs brush failure"},
    {145, "配置区烧录失败", "Configuration is written faiure"},
    {146, "开机画面烧录失败", "Logo boot is written faiure"},
    {147, "应用程序烧录失败", "Application program is written faiure"},
    {148, "用户数据烧录失败", "User data is writtten faiure"},
    {149, "升级画面烧录失败", "Logo upgrading is written faiure"},
    {150, "修复画面烧录失败", "Logo upgraded is written faiure"},
    {151, "Uboot参数区烧录失败", "Uboot param is written faiure"},
    {152, "Uboot版本号不一致，准备二次修复 ", "Uboot Version not inconsisten, second repair "},
    {153, "获取本机MAC失败!!!", "Failed to get native MAC!!!"},
    {154, "暂停升级", "Suspend upgrade"},
    {155, "停止升级", "Stop upgrade"},
    {156, "开始升级", "Start upgrade"},
    {157, "升级服务还未停止，确定退出？",
     "The upgrade service has not stopped. Are you sure to exit?"},
    {158, "IP占用检测需要一定时间，若勾选该功能，\n建议同时升级设备不要超过10台!",
     "IP occupation detection takes a certain amount of time, if this function is checked, it is "
     "recommended that no more than 10 devices be upgraded at the same time!"},
    {159, "提示", "Tips"},
    {160, "继续升级", "Continue to upgrade"},
    {161, "请选择升级文件目录", "Select the upgrade file directory"},
    {162, "修改语言后，重新启动程序生效",
     "After the language is changed, restart the program to take effect"},
    {163, "确定", "OK"},
    {164, "立即重启", "Restart Now"},
    {165, "网络端口绑定失败！", "The network port binding failed!"},
    {166, "设备版本已最新", "It is already the latest version"},
    {167, "设备版本高于升级文件", "The target firmware version is lower"},
    {168, "参数错误！", "Empty parameter"},
    {169, "URL错误！", "URL error"},
    {170, "连接错误！", "Connect failed"},
    {171, "请求错误！", "Request failed"},
    {172, "服务器拒绝！", "Server reject"},
    {173, "文件读写错误！", "file read write error"},
    {174, "MD5校验失败！", "MD5 error"},
    {175, "下载出错！", "downlaod error"},
};

constexpr int kFirstId = 101;
constexpr int kStringCount = static_cast<int>(sizeof kStrings / sizeof kStrings[0]);

constexpr bool IdsInOrder() {
    for (int i = 0; i < kStringCount; ++i) {
        if (kStrings[i].id != kFirstId + i) {
            return false;
        }
    }
    return kStringCount == 75;
}
static_assert(IdsInOrder(), "the string table must hold ids 101..175 in order");

}  // namespace

const char* LookupStringTable(int language, int id) {
    if (id < kFirstId || id >= kFirstId + kStringCount) {
        return nullptr;
    }
    const StringEntry& e = kStrings[id - kFirstId];
    return language == kLanguageChinese ? e.chinese : e.english;
}

}  // namespace orvane
