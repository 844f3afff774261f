/*
 * cleanup_run.h - the service pack's one-shot cleanup.
 *
 * RunCleanup performs five phases, in this order, and returns 0:
 *
 *   1. EmptyOldPackDirectory: delete every file in "\Temp\ServicePackOld".
 *   2. EnsureDirectoryChain("\Temp\ServicePackOld"): create "\Temp" and the
 *      old-pack directory where they are missing.
 *   3. RelocateOwnExecutable: move the running executable to
 *      "\Temp\ServicePackOld\PatchUnInstall.exe".
 *   4. RemoveDirectoryChain("\Temp\ServicePack"): remove the pack directory,
 *      then "\Temp", each only if empty.
 *   5. RemoveRecordedCabinet: delete the cabinet file that the package key's
 *      "CabFile" value names, unless it is read-only.
 *
 * No failure is reported: a failed platform call at most skips the steps
 * that depend on it, and the run always goes on to the next phase.
 */
#ifndef CLEANUP_RUN_H
#define CLEANUP_RUN_H

#include "coredll.h"

/*
 * RunCleanup - the program's main routine.  The four arguments are the
 * platform's GUI-entry arguments; none of them is used.  Returns the
 * process's exit status, 0 on every path.
 */
int RunCleanup(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine, int showFlag);

/*
 * EmptyOldPackDirectory - searches "\Temp\ServicePackOld\*.*" and passes
 * every entry found to DeleteFileW.  Files that can be deleted go; a
 * subdirectory, a read-only file or a file in use stays, and the search goes
 * on.  A name that holds a separator ("\" or "/"), which no device file
 * name does, is left alone: its entry path would name another file.  A
 * missing or empty directory deletes nothing.  The search is closed once it
 * has opened.
 */
void EmptyOldPackDirectory(void);

/*
 * RelocateOwnExecutable - moves the running executable's file to
 * "\Temp\ServicePackOld\PatchUnInstall.exe".  The platform's move never
 * replaces an existing file.  When the executable's path cannot be read,
 * or was cut short by the 260-character buffer (a cut path could name
 * another file), nothing is moved.
 */
void RelocateOwnExecutable(void);

/*
 * RemoveRecordedCabinet - opens the first key of PackageKeyNames that opens
 * under HKEY_LOCAL_MACHINE, reads its "CabFile" value (at most 128 bytes) as
 * the cabinet's path and deletes that file when it exists and is not
 * read-only.  The path is bounded by the value's byte count: it ends at the
 * first NUL within the data, or at the data's end.  The key is closed on
 * every path once it is open; the registry is never changed.
 */
void RemoveRecordedCabinet(void);

#endif /* CLEANUP_RUN_H */
