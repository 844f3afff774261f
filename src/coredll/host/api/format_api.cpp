/*
 * format_api.cpp - wsprintfW.
 *
 * Only the conversions the program uses are understood: "%s" inserts a WCHAR
 * string (NULL inserts "(null)") and "%%" a percent sign.  Any other "%x"
 * is copied as written.  As on CE 6.0 and later (coredll wsprintf.c:
 * _vsnwprintf with MAX_W32_LEN), at most 1,023 characters and a NUL are
 * written and the count written is returned; CE 5.0 exports the C runtime's
 * swprintf under this name, whose bound is 1,024.
 */
#include "api/format_api.h"

#include "api/platform_call.h"

#include <cstdarg>

namespace {

const char16_t kNullText[] = u"(null)";

} // namespace

size_t coredll::FormatArgumentCount(LPCWSTR format)
{
    size_t count = 0;
    for (const char16_t *f = format; *f != 0; ++f) {
        if (*f == u'%' && (f[1] == u'%' || f[1] == u's')) {
            count += f[1] == u's' ? 1 : 0;
            ++f;
        }
    }
    return count;
}

int FormatWide(LPWSTR out, LPCWSTR format, const LPCWSTR *args, size_t arg_count)
{
    int written = 0;
    size_t next = 0;
    auto put = [&](char16_t c) {
        if (written < coredll::kFormatOutputLimit) {
            out[written++] = c;
        }
    };
    for (const char16_t *f = format; *f != 0; ++f) {
        if (*f != u'%') {
            put(*f);
        } else if (f[1] == u'%') {
            put(u'%');
            ++f;
        } else if (f[1] == u's') {
            const char16_t *text = next < arg_count ? args[next] : nullptr;
            ++next;
            for (const char16_t *t = text != nullptr ? text : kNullText; *t != 0; ++t) {
                put(*t);
            }
            ++f;
        } else {
            put(u'%');
        }
    }
    out[written] = 0;
    coredll::ClearFailureNote();
    coredll::Trace("wsprintfW", coredll::Decimal(written),
                   {coredll::Text(out), coredll::Text(format)});
    return written;
}

extern "C" int WINAPIV wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...)
{
    LPCWSTR args[coredll::kFormatArgumentLimit] = {};
    size_t count = coredll::FormatArgumentCount(lpFmt);
    count = count > coredll::kFormatArgumentLimit ? coredll::kFormatArgumentLimit : count;
    va_list list;
    va_start(list, lpFmt);
    for (size_t i = 0; i < count; ++i) {
        args[i] = va_arg(list, LPCWSTR);
    }
    va_end(list);
    return FormatWide(lpOut, lpFmt, args, count);
}
