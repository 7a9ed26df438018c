#pragma once

// The compiler's checks of a printf-like function of the program's own. Its formats are the C99
// ones (%zu, %lld) everywhere: on Windows the C library's standard-conforming printf family is
// used, and the check must be told so, as its default there is the older Microsoft dialect.
#if defined(__MINGW32__)
#define ORVANE_PRINTF_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#else
#define ORVANE_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#endif
