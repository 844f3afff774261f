/*
 * startup.cpp - the host's process start-up for the program's wide entry.
 *
 * main builds the wide command line from argv[1..] (arguments separated by
 * a space; an argument that is empty or holds a blank is double-quoted;
 * bytes that are not UTF-8 become U+FFFD) and calls wWinMain with no
 * instance, no previous instance, that line and SW_SHOWNORMAL.  wWinMain's
 * result is the exit status.  Before the call the kernel is asked to refuse
 * the process every change outside the device root (ConfineChangesToRoot).
 */
#include "coredll.h"

#include "device_root.h"
#include "utf16.h"

#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr int kShowNormal = 1;

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
        if (!coredll::DecodeUtf8(argument, pos, cp)) {
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

int main(int argc, char **argv)
{
    std::u16string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            line.push_back(u' ');
        }
        AppendArgument(line, argv[i]);
    }
    /* The run changes files only inside the device root (the current
     * directory); from here on the kernel holds it to that, where it can. */
    coredll::ConfineChangesToRoot();
    return wWinMain(nullptr, nullptr, line.data(), kShowNormal);
}
