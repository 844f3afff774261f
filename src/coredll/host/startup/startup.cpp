/* startup/ - the process start-up: main, the wide command line, the confinement. */
/*
 * startup.cpp - the host's process start-up for the program's wide entry.
 *
 * main calls wWinMain with no instance, no previous instance, the command
 * line made of argv[1..] (command_line.h) and SW_SHOWNORMAL.  wWinMain's
 * result is the exit status.  Before the call the kernel is asked to refuse
 * the process every change outside the device root (ConfineChangesToRoot).
 */
#include "coredll.h"

#include "kernel/device_root.h"
#include "startup/command_line.h"

#include <string>

namespace {

constexpr int kShowNormal = 1;

} // namespace

int main(int argc, char **argv)
{
    std::u16string line = coredll::CommandLine(argc, argv, 1);
    /* The run changes files only inside the device root (the current
     * directory); from here on the kernel holds it to that, where it can. */
    coredll::ConfineChangesToRoot();
    return wWinMain(nullptr, nullptr, line.data(), kShowNormal);
}
