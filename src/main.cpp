/*
 * main.cpp - the program's entry.
 *
 * The platform's process start-up calls the GUI entry with the instance, the
 * previous instance, the command line and the show flag; the cleanup ignores
 * all four, and the entry's result is the process's exit status.
 *
 * The device's SDK (UNDER_CE) spells the entry WinMain with a wide command
 * line; a desktop Windows build and the host stand-in use wWinMain.
 */
#include "coredll.h"

#include "cleanup/cleanup_run.h"

#ifdef UNDER_CE
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine, int showFlag)
#else
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine,
                    int showFlag)
#endif
{
    return RunCleanup(instance, previousInstance, commandLine, showFlag);
}
