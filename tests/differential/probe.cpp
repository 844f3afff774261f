// probe.cpp - answers questions through the platform's own calls, one answer
// a line, so that the host layer and Wine can be compared.
//
//   diff_probe QUESTIONS ANSWERS
//
// Every string, asked or answered, is its UTF-16 code units in hex, four
// digits each ("~" when empty), so that any unit, even a lone surrogate, passes.
// Questions, one a line:
//   case ID          starts case ID (echoed)
//   root D           Windows: the device root is drive D (the current drive)
//   reg KEY NAME     RegOpenKeyExW(HKEY_LOCAL_MACHINE, KEY), then
//                    RegQueryValueExW(NAME) with no buffer, and buffers of 0
//                    bytes, the exact size, one byte short and 128 bytes
//   attr PATH        GetFileAttributesW
//   delete PATH      DeleteFileW
//   find PATTERN     FindFirstFileW, then FindNextFileW until it fails
#include "coredll.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using Wide = std::basic_string<WCHAR>;

// The units of a hex-coded string; false when malformed.
bool Unhex(const char *hex, Wide &out)
{
    out.clear();
    if (std::strcmp(hex, "~") == 0) {
        return true;
    }
    size_t length = std::strlen(hex);
    if (length % 4 != 0) {
        return false;
    }
    for (size_t i = 0; i < length; i += 4) {
        unsigned unit = 0;
        if (std::sscanf(hex + i, "%4x", &unit) != 1) {
            return false;
        }
        out.push_back(static_cast<WCHAR>(unit));
    }
    return true;
}

void PutHex(FILE *out, const WCHAR *text)
{
    if (text[0] == 0) {
        std::fputs("~", out);
    }
    for (size_t i = 0; text[i] != 0; ++i) {
        std::fprintf(out, "%04X", static_cast<unsigned>(text[i]));
    }
}

// One RegQueryValueExW call with a buffer of `size` bytes (none when
// `size` is negative): its result, type, byte count and the whole buffer.
void QueryValue(FILE *out, const char *label, HKEY key, const Wide &name, long size)
{
    BYTE buffer[256];
    std::memset(buffer, 0xAB, sizeof(buffer));
    DWORD type = 0xDEAD;
    DWORD count = size < 0 ? 0 : static_cast<DWORD>(size);
    LONG result =
        RegQueryValueExW(key, name.c_str(), nullptr, &type, size < 0 ? nullptr : buffer, &count);
    std::fprintf(out, "  %s result=%ld type=%lu count=%lu data=", label, static_cast<long>(result),
                 static_cast<unsigned long>(type), static_cast<unsigned long>(count));
    for (long i = 0; i < size; ++i) {
        std::fprintf(out, "%02X", buffer[i]);
    }
    std::fputs("\n", out);
}

void AskRegistry(FILE *out, const Wide &path, const Wide &name)
{
    HKEY key = nullptr;
    LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key);
    std::fprintf(out, "  open=%ld\n", static_cast<long>(opened));
    if (opened != ERROR_SUCCESS) {
        return;
    }
    DWORD type = 0;
    DWORD exact = 0;
    QueryValue(out, "none", key, name, -1);
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &exact) == ERROR_SUCCESS &&
        exact <= 128) {
        QueryValue(out, "zero", key, name, 0);
        QueryValue(out, "exact", key, name, static_cast<long>(exact));
        if (exact > 0) {
            QueryValue(out, "short", key, name, static_cast<long>(exact) - 1);
        }
    }
    QueryValue(out, "b128", key, name, 128);
    RegCloseKey(key);
}

void AskFind(FILE *out, const Wide &pattern)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        std::fputs("  none\n", out);
        return;
    }
    do {
        std::fputs("  entry ", out);
        PutHex(out, found.cFileName);
        std::fprintf(out, " attributes=%lX size=%lu short=",
                     static_cast<unsigned long>(found.dwFileAttributes),
                     static_cast<unsigned long>(found.nFileSizeLow));
#ifdef _WIN32
        PutHex(out, found.cAlternateFileName);
#else
        std::fputs("~", out);
#endif
        std::fputs("\n", out);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

bool Answer(FILE *out, const char *verb, const char *first, const char *second)
{
    Wide a;
    Wide b;
    if (!Unhex(first, a) || (second[0] != 0 && !Unhex(second, b))) {
        return false;
    }
    std::fprintf(out, "%s %s%s%s\n", verb, first, second[0] != 0 ? " " : "", second);
    if (std::strcmp(verb, "reg") == 0) {
        AskRegistry(out, a, b);
    } else if (std::strcmp(verb, "attr") == 0) {
        std::fprintf(out, "  attributes=%lX\n",
                     static_cast<unsigned long>(GetFileAttributesW(a.c_str())));
    } else if (std::strcmp(verb, "delete") == 0) {
        std::fprintf(out, "  deleted=%d\n", DeleteFileW(a.c_str()) ? 1 : 0);
    } else if (std::strcmp(verb, "find") == 0) {
        AskFind(out, a);
    } else {
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: diff_probe QUESTIONS ANSWERS\n", stderr);
        return 2;
    }
    FILE *in = std::fopen(argv[1], "r");
    FILE *out = std::fopen(argv[2], "w");
    if (in == nullptr || out == nullptr) {
        return 2;
    }
    char line[8192];
    int status = 0;
    while (std::fgets(line, sizeof(line), in) != nullptr) {
        char verb[16] = "";
        static char first[4096];
        static char second[4096];
        first[0] = second[0] = 0;
        if (std::sscanf(line, "%15s %4095s %4095s", verb, first, second) < 2) {
            continue;
        }
        if (std::strcmp(verb, "case") == 0) {
            std::fprintf(out, "case %s\n", first);
        } else if (std::strcmp(verb, "root") == 0) {
#ifdef _WIN32
            WCHAR drive[] = {static_cast<WCHAR>(first[0]), L':', L'\\', 0};
            SetCurrentDirectoryW(drive);
#endif
        } else if (!Answer(out, verb, first, second)) {
            std::fprintf(out, "bad question: %s", line);
            status = 1;
        }
        std::fflush(out);
    }
    std::fclose(in);
    return std::fclose(out) == 0 ? status : 2;
}
