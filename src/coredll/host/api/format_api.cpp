/*
 * format_api.cpp - wsprintfW.
 *
 * CE 6.0 and later format with the C runtime's _vsnwprintf, bounded by
 * MAX_W32_LEN (coredll wsprintf.c 39-61; CE 5.0 exports the runtime's
 * swprintf under this name instead).  Modelled as the runtime's _toutput
 * (corelibc crtw32/stdio/output.c) does it:
 *   - the format is read a character at a time, each argument when its
 *     conversion is reached;
 *   - "%s" inserts a WCHAR string (NULL inserts "(null)"), "%%" a percent
 *     sign;
 *   - any character the runtime's table does not take after a '%' ends the
 *     conversion and is written alone ("%q" writes "q"); a '%' ending the
 *     format writes nothing;
 *   - the first character that does not fit among the 1,023 ends the call:
 *     nothing further is read.  1,023 characters and a NUL at most.
 * The runtime's other conversions, flags, widths, precisions and sizes are
 * not formatted: the input decides (Unformatted); wsprintfW ends its output
 * there.
 */
#include "api/format_api.h"

#include "api/platform_call.h"

#include <cstdarg>

namespace {

const char16_t kNullText[] = u"(null)";

/* Characters the runtime's state table (output.c 202-292, __lookuptable)
 * takes after a '%' as a flag, width, precision, size or conversion. */
bool TakenAfterPercent(char16_t c)
{
    for (const char16_t *t = u" #+-.*0123456789FILNhlwCEGSXZcdefginopsux"; *t != 0; ++t) {
        if (*t == c) {
            return true;
        }
    }
    return false;
}

/* The characters of the format read so far, for the trace. */
constexpr size_t kTracedFormatLimit = 1024;

/* wsprintfW's own caller: the format in memory, the arguments by va_arg. */
class VariadicInput final : public coredll::FormatInput {
  public:
    VariadicInput(LPCWSTR format, va_list *list) : format_(format), list_(list)
    {
    }
    bool FormatCharacter(size_t index, char16_t &c) override
    {
        c = format_[index];
        return true;
    }
    bool NextString(size_t wanted, const char16_t *&text, size_t &length) override
    {
        text = va_arg(*list_, LPCWSTR);
        for (length = 0; text != nullptr && length < wanted && text[length] != 0; ++length) {
        }
        return true;
    }
    bool Unformatted(char16_t) override
    {
        coredll::NoteFailure("a conversion the layer does not format");
        return true;
    }

  private:
    LPCWSTR format_;
    va_list *list_;
};

} // namespace

int FormatWide(LPWSTR out, coredll::FormatInput &input)
{
    using coredll::kFormatOutputLimit;
    char16_t format[kTracedFormatLimit + 1] = {};
    size_t read = 0;
    auto next = [&](char16_t &c) {
        if (!input.FormatCharacter(read, c)) {
            return false;
        }
        if (read < kTracedFormatLimit) {
            format[read] = c;
        }
        ++read;
        return true;
    };
    int written = 0;
    auto put = [&](char16_t c) {
        if (written == kFormatOutputLimit) {
            return false;
        }
        out[written++] = c;
        return true;
    };
    coredll::ClearFailureNote();
    for (bool room = true; room;) {
        char16_t c = 0;
        if (!next(c)) {
            return coredll::kFormatFailed;
        }
        if (c == 0) {
            break;
        }
        if (c != u'%') {
            room = put(c);
            continue;
        }
        if (!next(c)) {
            return coredll::kFormatFailed;
        }
        if (c == 0) {
            break;
        }
        if (c == u's') {
            const char16_t *text = nullptr;
            size_t length = 0;
            if (!input.NextString(static_cast<size_t>(kFormatOutputLimit - written) + 1, text,
                                  length)) {
                return coredll::kFormatFailed;
            }
            if (text == nullptr) {
                text = kNullText;
                length = sizeof(kNullText) / sizeof(kNullText[0]) - 1;
            }
            for (size_t i = 0; i < length && room; ++i) {
                room = put(text[i]);
            }
        } else if (c == u'%' || !TakenAfterPercent(c)) {
            room = put(c);
        } else if (input.Unformatted(c)) {
            break;
        } else {
            return coredll::kFormatFailed;
        }
    }
    out[written] = 0;
    coredll::Trace("wsprintfW", coredll::Decimal(written),
                   {coredll::Text(out), coredll::Text(format)});
    return written;
}

extern "C" int WINAPIV wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...)
{
    va_list list;
    va_start(list, lpFmt);
    VariadicInput input(lpFmt, &list);
    int written = FormatWide(lpOut, input);
    va_end(list);
    return written;
}
