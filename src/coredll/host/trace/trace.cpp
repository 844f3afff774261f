/*
 * trace.cpp - the layer's optional trace of platform calls.
 */
#include "trace/trace.h"

#include "names/utf16.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unistd.h>

namespace coredll {

namespace {

const char *failure_note = nullptr;

/* One trace line in a fixed buffer; one byte always stays for the newline. */
class Line {
  public:
    void Append(const char *text, size_t length)
    {
        size_t room = sizeof(line_) - 1 - used_;
        length = length > room ? room : length;
        std::memcpy(line_ + used_, text, length);
        used_ += length;
    }

    void Append(const char *text)
    {
        Append(text, std::strlen(text));
    }

    void AppendValue(const TraceValue &value)
    {
        char digits[32];
        switch (value.kind) {
        case TraceValue::kText:
            AppendText(value.text, value.limit);
            return;
        case TraceValue::kHex:
            std::snprintf(digits, sizeof(digits), "0x%08" PRIX32,
                          static_cast<uint32_t>(value.number));
            break;
        case TraceValue::kHandle:
            if (value.handle == nullptr) {
                std::snprintf(digits, sizeof(digits), "NULL");
            } else if (reinterpret_cast<intptr_t>(value.handle) == -1) {
                std::snprintf(digits, sizeof(digits), "INVALID_HANDLE_VALUE");
            } else {
                std::snprintf(digits, sizeof(digits), "0x%08" PRIXPTR,
                              reinterpret_cast<uintptr_t>(value.handle));
            }
            break;
        case TraceValue::kDecimal:
            std::snprintf(digits, sizeof(digits), "%" PRId64, value.number);
            break;
        case TraceValue::kUnwritten:
            std::snprintf(digits, sizeof(digits), "-");
            break;
        }
        Append(digits);
    }

    /* A UTF-16 string in double quotes; an unpaired surrogate as \uXXXX. */
    void AppendText(const char16_t *text, size_t limit)
    {
        if (text == nullptr) {
            Append("NULL");
            return;
        }
        size_t length = 0;
        while (length < limit && text[length] != 0) {
            ++length;
        }
        std::u16string_view view(text, length);
        Append("\"");
        for (size_t pos = 0; pos < view.size();) {
            size_t start = pos;
            char32_t cp = 0;
            char bytes[16];
            size_t n = 0;
            if (DecodeUtf16(view, pos, cp)) {
                Utf16ToUtf8(view.substr(start, pos - start), bytes, sizeof(bytes), n);
            } else {
                n = static_cast<size_t>(std::snprintf(bytes, sizeof(bytes), "\\u%04X",
                                                      static_cast<unsigned>(view[pos])));
                pos += 1;
            }
            Append(bytes, n);
        }
        Append("\"");
    }

    void Write()
    {
        line_[used_++] = '\n';
        for (size_t done = 0; done < used_;) {
            ssize_t n = write(STDERR_FILENO, line_ + done, used_ - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
    }

  private:
    char line_[2048];
    size_t used_ = 0;
};

} // namespace

bool TraceEnabled()
{
    static const bool enabled = [] {
        const char *value = std::getenv("COREDLL_TRACE");
        return value != nullptr && value[0] != '\0';
    }();
    return enabled;
}

void Trace(const char *function, const TraceValue &result, std::initializer_list<TraceValue> args)
{
    if (!TraceEnabled()) {
        return;
    }
    Line line;
    line.Append(function);
    line.Append("(");
    const char *separator = "";
    for (const TraceValue &arg : args) {
        line.Append(separator);
        line.AppendValue(arg);
        separator = ", ";
    }
    line.Append(") = ");
    line.AppendValue(result);
    if (failure_note != nullptr) {
        line.Append(" (");
        line.Append(failure_note);
        line.Append(")");
    }
    line.Write();
}

bool NoteFailure(const char *why)
{
    if (failure_note == nullptr) { /* the first is the cause, later ones follow from it */
        failure_note = why;
    }
    return false;
}

void ClearFailureNote()
{
    failure_note = nullptr;
}

} // namespace coredll
