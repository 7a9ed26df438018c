#include "support/log_format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

// The format is taken one conversion at a time, so only argument text is escaped: the
// format's own "\n" (some messages end in one) must stay a real line feed.
namespace orvane {

namespace {

// Widths and precisions beyond any line are clamped before they are written into a conversion.
constexpr long kMaxFieldWidth = 9999;

// Writes into the caller's buffer and silently stops at its end.
class Output {
  public:
    Output(char* out, size_t size)
        : m_pOut(size > 0 ? out : nullptr), m_uCap(size > 0 ? size - 1 : 0) {}

    void Put(char c) {
        if (m_uLen < m_uCap) {
            m_pOut[m_uLen++] = c;
        }
    }
    void Put(const char* s, size_t n) {
        n = std::min(n, m_uCap - m_uLen);
        if (n == 0) {
            return;
        }
        std::memcpy(m_pOut + m_uLen, s, n);
        m_uLen += n;
    }
    void Pad(size_t n) {
        for (size_t i = 0; i < n && m_uLen < m_uCap; ++i) {
            m_pOut[m_uLen++] = ' ';
        }
    }
    // One conversion of the C library straight into the room that is left.
    template <typename T>
    void Printf(const char* conversion, T value) {
        if (m_uLen >= m_uCap) {
            return;
        }
        int n = std::snprintf(m_pOut + m_uLen, m_uCap - m_uLen + 1, conversion, value);
        if (n > 0) {
            m_uLen = std::min(m_uCap, m_uLen + static_cast<size_t>(n));
        }
    }
    size_t Finish() {
        if (m_pOut != nullptr) {
            m_pOut[m_uLen] = '\0';
        }
        return m_uLen;
    }

  private:
    char* m_pOut;
    size_t m_uCap;  // characters, the terminator not counted
    size_t m_uLen = 0;
};

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

size_t EscapedSize(unsigned char c) {
    if (!IsControl(c)) {
        return 1;
    }
    return (c == '\r' || c == '\n') ? 2 : 4;
}

void PutEscaped(Output* out, unsigned char c) {
    if (!IsControl(c)) {
        out->Put(static_cast<char>(c));
    } else if (c == '\r') {
        out->Put("\\r", 2);
    } else if (c == '\n') {
        out->Put("\\n", 2);
    } else {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out->Put(hex, 4);
    }
}

// `n` bytes of `s`, escaped, padded with blanks to `width` columns on the chosen side.
void PutText(Output* out, const char* s, size_t n, long width, bool left) {
    size_t escaped = 0;
    for (size_t i = 0; i < n; ++i) {
        escaped += EscapedSize(static_cast<unsigned char>(s[i]));
    }
    size_t pad = width > 0 && static_cast<size_t>(width) > escaped ? width - escaped : 0;
    if (!left) {
        out->Pad(pad);
    }
    for (size_t i = 0; i < n; ++i) {
        PutEscaped(out, static_cast<unsigned char>(s[i]));
    }
    if (left) {
        out->Pad(pad);
    }
}

// One conversion as written, with every '*' replaced by the value it took.
struct Conversion {
    char szSpec[48] = {'%'};
    size_t uLen = 1;
    bool bLeft = false;
    long lWidth = -1;      // -1: none
    long lPrecision = -1;  // -1: none
    char szLength[3] = {};
    char cConv = '\0';

    void Add(char c) {
        if (uLen + 1 < sizeof szSpec) {
            szSpec[uLen++] = c;
            szSpec[uLen] = '\0';
        }
    }
    void AddNumber(long value) {
        char digits[16];
        int n = std::snprintf(digits, sizeof digits, "%ld", value);
        for (int i = 0; i < n; ++i) {
            Add(digits[i]);
        }
    }
};

long ReadNumber(const char** p) {
    long value = 0;
    while (**p >= '0' && **p <= '9') {
        value = std::min(kMaxFieldWidth, value * 10 + (**p - '0'));
        ++*p;
    }
    return value;
}

// Reads flags, width, precision and length after a '%'; `*p` is left on the conversion
// character. The values of '*' are taken from `args`.
void ParseConversion(const char** p, va_list& args, Conversion* c) {
    while (**p != '\0' && std::strchr("-+ #0'", **p) != nullptr) {
        c->bLeft = c->bLeft || **p == '-';
        c->Add(*(*p)++);
    }
    if (**p == '*') {
        ++*p;
        long width = va_arg(args, int);
        if (width < 0) {
            c->bLeft = true;
            c->Add('-');
            width = -width;
        }
        c->lWidth = std::min(width, kMaxFieldWidth);
        c->AddNumber(c->lWidth);
    } else if (**p >= '0' && **p <= '9') {
        c->lWidth = ReadNumber(p);
        c->AddNumber(c->lWidth);
    }
    if (**p == '.') {
        ++*p;
        long precision = 0;
        if (**p == '*') {
            ++*p;
            precision = va_arg(args, int);
        } else {
            precision = ReadNumber(p);
        }
        if (precision >= 0) {  // a negative one counts as none
            c->lPrecision = std::min(precision, kMaxFieldWidth);
            c->Add('.');
            c->AddNumber(c->lPrecision);
        }
    }
    size_t n = 0;
    while (**p != '\0' && std::strchr("hljztL", **p) != nullptr && n < 2) {
        c->szLength[n++] = **p;
        c->Add(*(*p)++);
    }
    c->cConv = **p;
    if (**p != '\0') {
        c->Add(**p);
    }
}

bool LengthIs(const Conversion& c, const char* length) {
    return std::strcmp(c.szLength, length) == 0;
}

void PutSigned(Output* out, const Conversion& c, va_list& args) {
    if (LengthIs(c, "l")) {
        out->Printf(c.szSpec, va_arg(args, long));
    } else if (LengthIs(c, "ll")) {
        out->Printf(c.szSpec, va_arg(args, long long));
    } else if (LengthIs(c, "j")) {
        out->Printf(c.szSpec, va_arg(args, intmax_t));
    } else if (LengthIs(c, "z") || LengthIs(c, "t")) {
        out->Printf(c.szSpec, va_arg(args, ptrdiff_t));
    } else {
        out->Printf(c.szSpec, va_arg(args, int));  // hh and h arrive promoted
    }
}

void PutUnsigned(Output* out, const Conversion& c, va_list& args) {
    if (LengthIs(c, "l")) {
        out->Printf(c.szSpec, va_arg(args, unsigned long));
    } else if (LengthIs(c, "ll")) {
        out->Printf(c.szSpec, va_arg(args, unsigned long long));
    } else if (LengthIs(c, "j")) {
        out->Printf(c.szSpec, va_arg(args, uintmax_t));
    } else if (LengthIs(c, "z") || LengthIs(c, "t")) {
        out->Printf(c.szSpec, va_arg(args, size_t));
    } else {
        out->Printf(c.szSpec, va_arg(args, unsigned int));
    }
}

void PutString(Output* out, const Conversion& c, va_list& args) {
    if (LengthIs(c, "l")) {
        // Wide text is converted by the C library first, then escaped like any other.
        char narrow[512];
        std::snprintf(narrow, sizeof narrow, "%.*ls",
                      static_cast<int>(c.lPrecision < 0 ? sizeof narrow : c.lPrecision),
                      va_arg(args, const wchar_t*));
        PutText(out, narrow, std::strlen(narrow), c.lWidth, c.bLeft);
        return;
    }
    const char* s = va_arg(args, const char*);
    if (s == nullptr) {
        s = "(null)";
    }
    // A precision bounds what is read: the argument need not be terminated beyond it.
    size_t n = c.lPrecision < 0 ? std::strlen(s) : strnlen(s, static_cast<size_t>(c.lPrecision));
    PutText(out, s, n, c.lWidth, c.bLeft);
}

void PutConversion(Output* out, const Conversion& c, va_list& args) {
    switch (c.cConv) {
        case 'd':
        case 'i':
            PutSigned(out, c, args);
            break;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            PutUnsigned(out, c, args);
            break;
        case 'c': {
            const char ch = static_cast<char>(va_arg(args, int));
            PutText(out, &ch, 1, c.lWidth, c.bLeft);
            break;
        }
        case 's':
            PutString(out, c, args);
            break;
        case 'p':
            out->Printf(c.szSpec, va_arg(args, void*));
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (LengthIs(c, "L")) {
                out->Printf(c.szSpec, va_arg(args, long double));
            } else {
                out->Printf(c.szSpec, va_arg(args, double));
            }
            break;
        case 'n':
            va_arg(args, void*);  // never written through
            break;
        case '%':
            out->Put('%');
            break;
        default:  // unknown: shown as written, no argument taken
            out->Put(c.szSpec, c.uLen);
            break;
    }
}

}  // namespace

size_t FormatLogMessage(char* out, size_t size, const char* format, va_list args) {
    Output o(out, size);
    va_list ap;
    va_copy(ap, args);
    for (const char* p = format; *p != '\0';) {
        if (*p != '%') {
            o.Put(*p++);
            continue;
        }
        ++p;
        Conversion c;
        ParseConversion(&p, ap, &c);
        if (c.cConv == '\0') {
            break;  // the format ends inside a conversion
        }
        ++p;
        PutConversion(&o, c, ap);
    }
    va_end(ap);
    return o.Finish();
}

}  // namespace orvane
