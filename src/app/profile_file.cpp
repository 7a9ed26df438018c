// Reads through SimpleIni; writes by hand, line by line, because SimpleIni saves a whole file
// of its own making (comments, blank lines and key order lost) and Start must keep every line
// of Config.ini except the values it sets.
#include "app/profile_file.h"

#include <SimpleIni.h>

#include <climits>
#include <filesystem>
#include <fstream>

#include "platform/file.h"

namespace orvane {

namespace {

constexpr const char* kUtf8Bom = "\xEF\xBB\xBF";

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<char>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<char>(y - 'A' + 'a');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) {
        return std::string();
    }
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// One line of the file as the reader sees it.
struct ParsedLine {
    enum Kind { kOther, kSection, kEntry } kind = kOther;
    std::string name;    // section or key name
    size_t valueAt = 0;  // where an entry's value begins (after '=' and blanks)
};

ParsedLine Parse(const std::string& line) {
    ParsedLine parsed;
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') {
        return parsed;
    }
    if (t[0] == '[') {
        size_t close = t.find(']');
        if (close != std::string::npos) {
            parsed.kind = ParsedLine::kSection;
            parsed.name = Trim(t.substr(1, close - 1));
        }
        return parsed;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
        return parsed;
    }
    parsed.kind = ParsedLine::kEntry;
    parsed.name = Trim(line.substr(0, eq));
    size_t value = line.find_first_not_of(" \t", eq + 1);
    parsed.valueAt = value == std::string::npos ? line.size() : value;
    return parsed;
}

struct Line {
    std::string text;  // without its ending
    std::string eol;   // "\r\n", "\n" or "" for a last line without one
};

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back({text.substr(start), ""});
            break;
        }
        size_t end = (nl > start && text[nl - 1] == '\r') ? nl - 1 : nl;
        lines.push_back({text.substr(start, end - start), text.substr(end, nl + 1 - end)});
        start = nl + 1;
    }
    return lines;
}

std::string SingleLine(const std::string& value) {
    return value.substr(0, value.find_first_of("\r\n"));
}

}  // namespace

std::string CutUtf8(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    size_t n = maxBytes;
    // Back off over continuation bytes to the start of the character that would be cut.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
        --n;
    }
    return text.substr(0, n);
}

std::optional<std::string> ReadProfileText(const std::string& path) {
    return ReadTextFile(path, kMaxProfileBytes);
}

std::optional<std::string> ReadTextFile(const std::string& path, size_t maxBytes) {
    platform::DataFile file;
    if (!file.OpenRead(path)) {
        return std::nullopt;
    }
    // Read to the end rather than trusting the size the file claims; stop past the limit.
    std::string text;
    char chunk[16 * 1024];
    for (;;) {
        long got = file.ReadAt(static_cast<int64_t>(text.size()), chunk, sizeof chunk);
        if (got < 0) {
            return std::nullopt;
        }
        text.append(chunk, static_cast<size_t>(got));
        if (text.size() > maxBytes) {
            return std::nullopt;
        }
        if (static_cast<size_t>(got) < sizeof chunk) {
            return text;
        }
    }
}

std::optional<std::string> ReadProfileString(const std::string& path, const char* section,
                                             const char* key, size_t maxBytes) {
    const std::optional<std::string> text = ReadProfileText(path);
    CSimpleIniA ini(true, false, false);
    if (!text || ini.LoadData(text->data(), text->size()) < 0) {
        return std::nullopt;
    }
    const char* value = ini.GetValue(section, key, nullptr);
    if (!value) {
        return std::nullopt;
    }
    return CutUtf8(value, maxBytes);
}

int ProfileIntFromText(const std::optional<std::string>& text, int defaultValue) {
    if (!text || text->empty()) {
        return defaultValue;
    }
    long long value = 0;
    for (char c : *text) {
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10 + (c - '0');
        if (value > INT_MAX) {
            return INT_MAX;
        }
    }
    return static_cast<int>(value);
}

int ReadProfileInt(const std::string& path, const char* section, const char* key,
                   int defaultValue) {
    return ProfileIntFromText(ReadProfileString(path, section, key, 4095), defaultValue);
}

std::string SetProfileValues(const std::string& text, const std::string& section,
                             const std::vector<ProfileValue>& values) {
    std::vector<Line> lines = SplitLines(text);
    std::string eol = "\n";
    for (const Line& l : lines) {
        if (!l.eol.empty()) {
            eol = l.eol;
            break;
        }
    }
    std::vector<bool> found(values.size(), false);
    bool inSection = false;
    bool sectionSeen = false;
    size_t insertAt = 0;  // after the last line with content of the last such section
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string body = lines[i].text;
        size_t bom = (i == 0 && body.compare(0, 3, kUtf8Bom) == 0) ? 3 : 0;
        ParsedLine parsed = Parse(body.substr(bom));
        if (parsed.kind == ParsedLine::kSection) {
            inSection = EqualsNoCase(parsed.name, section);
            if (inSection) {
                sectionSeen = true;
                insertAt = i + 1;
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        if (parsed.kind == ParsedLine::kEntry) {
            insertAt = i + 1;
            for (size_t v = 0; v < values.size(); ++v) {
                if (EqualsNoCase(parsed.name, values[v].key)) {
                    lines[i].text =
                        body.substr(0, bom + parsed.valueAt) + SingleLine(values[v].value);
                    found[v] = true;
                }
            }
        } else if (!Trim(body).empty() && Trim(body)[0] != ';' && Trim(body)[0] != '#') {
            insertAt = i + 1;
        }
    }

    std::vector<Line> added;
    if (!sectionSeen) {
        added.push_back({"[" + section + "]", eol});
        insertAt = lines.size();
    }
    for (size_t v = 0; v < values.size(); ++v) {
        if (!found[v]) {
            added.push_back({values[v].key + "=" + SingleLine(values[v].value), eol});
        }
    }
    if (!added.empty() && insertAt > 0 && lines[insertAt - 1].eol.empty()) {
        lines[insertAt - 1].eol = eol;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), added.begin(), added.end());

    std::string out;
    out.reserve(text.size() + 64);
    for (const Line& l : lines) {
        out += l.text;
        out += l.eol;
    }
    return out;
}

bool WriteProfileValues(const std::string& path, const std::string& section,
                        const std::vector<ProfileValue>& values) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::string old;
    bool exists = fs::exists(platform::FsPath(path), ec);
    if (exists) {
        // Something that cannot be read as a settings file is never replaced by one.
        std::optional<std::string> text = ReadProfileText(path);
        if (!text) {
            return false;
        }
        old = std::move(*text);
    }
    const std::string fresh = SetProfileValues(old, section, values);
    const std::string temp = path + ".new";
    {
        std::ofstream out(platform::FsPath(temp), std::ios::binary | std::ios::trunc);
        out << fresh;
        out.flush();
        if (!out) {
            fs::remove(platform::FsPath(temp), ec);
            return false;
        }
    }
    if (exists) {
        fs::permissions(platform::FsPath(temp),
                        fs::status(platform::FsPath(path), ec).permissions(), ec);
    }
    fs::rename(platform::FsPath(temp), platform::FsPath(path), ec);
    if (ec) {
        fs::remove(platform::FsPath(temp), ec);
        return false;
    }
    return true;
}

}  // namespace orvane
