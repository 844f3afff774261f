/*
 * startup.cpp - the device executable's entry point, in place of the SDK's
 * C runtime start-up (the program uses no C runtime).
 *
 * The loader calls the entry with WinMain's four arguments.  An entry of this
 * kind "should not return. Instead, call ExitProcess to terminate your
 * application" (Windows Embedded CE 6.0 reference, EXEENTRY: "main or
 * WinMain, direct entry point for an application"), so the entry ends the
 * process with ExitProcess(WinMain's result), COREDLL's one import beyond
 * the program's own calls.  The program has no global constructors to run.
 */
#include "coredll.h"

extern "C" void WINAPI DeviceEntry(HINSTANCE instance, HINSTANCE previousInstance,
                                   LPWSTR commandLine, int showFlag)
{
    ExitProcess((UINT)WinMain(instance, previousInstance, commandLine, showFlag));
}
