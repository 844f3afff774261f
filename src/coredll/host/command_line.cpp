/*
 * command_line.cpp - the wide command line a program's entry receives.
 */
#include "command_line.h"

#include "utf16.h"

#include <string_view>

namespace coredll {

namespace {

/* Appends `argument` (UTF-8) to `line`, quoted when it is empty or holds a
 * blank. */
void AppendArgument(std::u16string &line, std::string_view argument)
{
    bool quoted = argument.empty() || argument.find_first_of(" \t") != std::string_view::npos;
    if (quoted) {
        line.push_back(u'"');
    }
    size_t pos = 0;
    while (pos < argument.size()) {
        char32_t cp = 0;
        if (!DecodeUtf8(argument, pos, cp)) {
            cp = 0xFFFD;
            pos += 1;
        }
        if (cp >= 0x10000) {
            line.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            line.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            line.push_back(static_cast<char16_t>(cp));
        }
    }
    if (quoted) {
        line.push_back(u'"');
    }
}

} // namespace

std::u16string CommandLine(int argc, char **argv, int first)
{
    std::u16string line;
    for (int i = first; i < argc; ++i) {
        if (i > first) {
            line.push_back(u' ');
        }
        AppendArgument(line, argv[i]);
    }
    return line;
}

} // namespace coredll
