/*
 * registry_text.h - the characters of a registry export file.
 *
 * The registry editor's import reads a file that starts with the UTF-16LE
 * byte-order mark as UTF-16; any other file as text in the system's ANSI code
 * page, Windows-1252 on the device.  The host also reads version-5 exports in
 * UTF-8, with or without its byte-order mark.
 */
#ifndef COREDLL_HOST_REGISTRY_TEXT_H
#define COREDLL_HOST_REGISTRY_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace coredll {

enum class ExportEncoding { Utf16, Utf8, Ansi };

struct ExportText {
    ExportEncoding encoding;
    std::u16string text; /* ends before the file's first NUL character */
};

/*
 * DecodeExportText - the text of the `size` bytes at `bytes`:
 * - after a UTF-16LE byte-order mark, UTF-16LE (a last odd byte is dropped);
 * - after a UTF-8 byte-order mark, UTF-8 (invalid sequences as U+FFFD);
 * - a file whose first line is "REGEDIT4", or that is not valid UTF-8, is
 *   Windows-1252;
 * - any other file is UTF-8.
 * The import reads lines as C strings, so the text ends at the first NUL.
 * May throw std::bad_alloc.
 */
ExportText DecodeExportText(const uint8_t *bytes, size_t size);

/*
 * AppendWindows1252 - appends the `size` bytes at `bytes` as Windows-1252
 * characters, one UTF-16 unit each, to `out`.  The five bytes the code page
 * leaves undefined (81 8D 8F 90 9D) become the control characters of the same
 * value, as MultiByteToWideChar gives them.  May throw std::bad_alloc.
 */
void AppendWindows1252(const uint8_t *bytes, size_t size, std::u16string &out);

} // namespace coredll

#endif /* COREDLL_HOST_REGISTRY_TEXT_H */
