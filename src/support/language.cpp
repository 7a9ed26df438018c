#include "support/language.h"

#include "support/string_table.h"

namespace orvane {

int g_iLanguage = kLanguageEnglish;

namespace {
thread_local int t_iThreadLanguage = 0;
}

void SetThreadUiLanguage(int language) {
    t_iThreadLanguage = language;
}

int GetThreadUiLanguage() {
    return t_iThreadLanguage != 0 ? t_iThreadLanguage : g_iLanguage;
}

const char* LoadText(int id) {
    const char* text = LookupStringTable(GetThreadUiLanguage(), id);
    return text ? text : "unknown";
}

}  // namespace orvane
