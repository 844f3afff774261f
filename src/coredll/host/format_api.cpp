/*
 * format_api.cpp - wsprintfW.
 *
 * Only the conversions the program uses are understood: "%s" inserts a WCHAR
 * string (NULL inserts "(null)") and "%%" a percent sign.  Any other "%x"
 * is copied as written.  Like the platform's, the function takes no bound:
 * the caller has measured that the result fits.
 */
#include "coredll.h"

#include "trace.h"

#include <cstdarg>

namespace {

const char16_t kNullText[] = u"(null)";

} // namespace

extern "C" int WINAPIV wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...)
{
    va_list args;
    va_start(args, lpFmt);
    int written = 0;
    for (const char16_t *f = lpFmt; *f != 0; ++f) {
        if (*f != u'%') {
            lpOut[written++] = *f;
            continue;
        }
        if (f[1] == u'%') {
            lpOut[written++] = u'%';
            ++f;
        } else if (f[1] == u's') {
            const char16_t *text = va_arg(args, const char16_t *);
            for (const char16_t *t = text != nullptr ? text : kNullText; *t != 0; ++t) {
                lpOut[written++] = *t;
            }
            ++f;
        } else {
            lpOut[written++] = u'%';
        }
    }
    lpOut[written] = 0;
    va_end(args);
    if (coredll::TraceEnabled()) {
        coredll::TraceLine line("wsprintfW");
        line.Text(lpOut);
        line.Text(lpFmt);
        line.Finish(written);
    }
    return written;
}
