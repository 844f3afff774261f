/*
 * command_line.cpp - the wide command line a program's entry receives.
 */
#include "startup/command_line.h"

#include "names/utf16.h"

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
    AppendUtf8AsUtf16(argument, line);
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
