#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Values of an initialisation file (Config.ini) read and written one key at a time, section
// and key names without regard to letter case.
namespace orvane {

// `text` cut to at most `maxBytes` bytes, never inside a UTF-8 character.
std::string CutUtf8(const std::string& text, size_t maxBytes);

// Largest settings file that is read; a bigger one counts as unreadable.
constexpr size_t kMaxProfileBytes = 1 << 20;

// The whole text of the settings file at `path`; nullopt when it is missing, is not a regular
// file (a pipe or a device: opening never blocks, reading never runs on without end) or holds
// more than kMaxProfileBytes.
std::optional<std::string> ReadProfileText(const std::string& path);
// The same for any text file the operator names, of at most `maxBytes` bytes.
std::optional<std::string> ReadTextFile(const std::string& path, size_t maxBytes);

// The value of `key` in `section`, cut to its first `maxBytes` bytes (never inside a UTF-8
// character); nullopt when the file (as ReadProfileText reads it), the section or the key is
// missing.
std::optional<std::string> ReadProfileString(const std::string& path, const char* section,
                                             const char* key, size_t maxBytes);

// The integer rules of the file: no text or empty text gives `defaultValue`; text that does
// not begin with a digit (a sign included) gives 0; otherwise its leading digits, at most
// INT_MAX.
int ProfileIntFromText(const std::optional<std::string>& text, int defaultValue);

int ReadProfileInt(const std::string& path, const char* section, const char* key, int defaultValue);

struct ProfileValue {
    std::string key;
    std::string value;
};

// `text` after setting each key of `values` in `section`: every line of that key in every
// such section gets the new value (keeping its own spelling of the key and its spacing);
// missing keys are added after the section's last entry; a missing section is appended.
// Every other byte of the text stays as it was. A value is cut at its first line break,
// which could otherwise inject lines.
std::string SetProfileValues(const std::string& text, const std::string& section,
                             const std::vector<ProfileValue>& values);

// SetProfileValues on the file at `path`, which is created when missing. The new text
// replaces the file in one step (written beside it, then renamed), so a failed write leaves
// the old file. False when the file cannot be read (as ReadProfileText reads it) or written.
bool WriteProfileValues(const std::string& path, const std::string& section,
                        const std::vector<ProfileValue>& values);

}  // namespace orvane
