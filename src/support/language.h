#pragma once

namespace orvane {

constexpr int kLanguageChinese = 1;
constexpr int kLanguageEnglish = 2;

// The process's user-interface language, fixed at start-up (1 Chinese, 2 English).
extern int g_iLanguage;

// Makes texts loaded on the calling thread come in `language` (per-thread, like a thread
// UI language). Threads that never call it get g_iLanguage.
void SetThreadUiLanguage(int language);
int GetThreadUiLanguage();

// The string-table text `id` in the calling thread's language, "unknown" when absent.
const char* LoadText(int id);

}  // namespace orvane
