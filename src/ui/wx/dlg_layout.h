#pragma once

#include <vector>

// The two layouts of the main window and the About box, in dialog units: what each control
// is, its id, its text and its rectangle per language.
namespace orvane::ui {

enum class ControlKind {
    kStatic,     // plain text
    kEditCombo,  // drop-down with an edit field
    kListCombo,  // drop-down list
    kButton,
    kCheckBox,
    kDeviceList,
    kHyperlink,
};

struct DluRect {
    int x, y, w, h;
};

struct ControlLayout {
    int id;  // 0: a text that nothing refers to
    ControlKind kind;
    const char* englishText;  // null: no text (or no such control) in this language
    const char* chineseText;
    DluRect english;
    DluRect chinese;
};

// Control ids of the main window.
enum : int {
    IDC_COMBO_LOCAL_IP = 1001,
    IDC_BTN_BROWSE = 1003,
    IDC_LIST_DEVICE = 1006,
    IDC_BTN_BEGIN_UPGRADE = 1007,
    IDC_BTN_CLEAR_LIST = 1008,
    IDC_CHECK_FORCED_UPGRADE = 1009,
    IDC_STATIC_SUCCESS = 1010,
    IDC_STATIC_SUCCESS_COUNT = 1011,
    IDC_STATIC_FAIL = 1012,
    IDC_STATIC_FAIL_COUNT = 1013,
    IDC_CHECK_IP_OCCUPANCY = 1014,
    IDC_BTN_PAUSE_TEST = 1016,
    IDC_LINK_WEBSITE = 1017,
    IDC_STATIC_NOTE_IP_CHECK = 1018,
    IDC_STATIC_NOTE_FORCED = 1019,
    IDC_STATIC_NOTE_NO_NETWORK = 1020,
    IDC_STATIC_NOTE_POWER_ON = 1021,
    IDC_STATIC_NOTE_DOWNLOAD = 1022,
    IDC_STATIC_NET_FAILED = 1023,
    IDC_STATIC_LANGUAGE = 1024,
    IDC_STATIC_NOTE_LANGUAGE = 1025,
    IDC_COMBO_LANGUAGE = 1028,
    IDC_COMBO_UPGRADE_FOLDER = 1029,
    IDC_CHECK_SHOW_ALL = 1033,
};

// The items of the main window's context menu.
enum : int {
    IDM_ABOUT = 16,
    IDM_SAVE_CSV = 17,        // "Save list as CSV…"
    IDM_BATCH_SETTINGS = 18,  // "Batch settings..."
};

// The main window's client size in dialog units: English 558 x 340, Chinese 511 x 334.
DluRect MainWindowSize(bool chinese);

// The main window's controls in keyboard (tab) order: the settings row from left to right,
// the folder row, the notes, then the list and what sits below it.
const std::vector<ControlLayout>& MainWindowControls();

// The free stretch of `control`'s line around it, in dialog units: from where the nearest
// control to its left ends (or 0) to where the nearest one to its right begins (or the
// window's width).
struct FreeSpan {
    int left, right;
};
FreeSpan FreeLineSpan(const ControlLayout& control, bool chinese);

// The device list's column widths in pixels for an effective language.
int DeviceColumnWidth(int column, bool chinese);

// The hyperlink's target: the maker's firmware download page.
extern const char* const kFirmwarePageUrl;

}  // namespace orvane::ui
