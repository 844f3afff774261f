/*
 * startup.cpp - the device executable's entry point, in place of the SDK's
 * C runtime start-up (the program uses no C runtime and has no global
 * constructors to run).  The loader calls it with WinMain's four arguments.
 */
#include "coredll.h"

extern "C" int WINAPI DeviceEntry(HINSTANCE instance, HINSTANCE previousInstance,
                                  LPWSTR commandLine, int showFlag)
{
    /* COREDLL's MainThreadBaseFunc calls ExitThread(entry's result): the process ends with it. */
    return WinMain(instance, previousInstance, commandLine, showFlag);
}
