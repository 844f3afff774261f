// recording_coredll.h - a recording substitute for the platform's core library.
//
// Linked instead of the host layer, it lets tests script what each platform
// call answers and records every call the program makes, in order, as text
// such as `DeleteFileW("\Temp\ServicePackOld\a.txt")`.
#ifndef RECORDING_COREDLL_H
#define RECORDING_COREDLL_H

#include "coredll.h"
#include "platform_names.h"

#include <string>
#include <vector>

namespace recording {

// What the substitute answers.  Reset() gives a device where the old-pack
// search yields nothing, the module path is "\Temp\ServicePack\Setup.exe",
// the package key exists without a "CabFile" value, and no file exists.
struct World {
    bool searchOpens = false;
    std::vector<std::u16string> entries;   // names the search yields, in order
    bool rawNameWithoutTerminator = false; // fill cFileName with no NUL at all

    bool moduleKnown = true;
    std::u16string modulePath = u"\\Temp\\ServicePack\\Setup.exe";

    bool keyExists = true;
    bool valueExists = false;
    DWORD valueType = REG_SZ;
    std::vector<BYTE> valueData;

    DWORD cabinetAttributes = INVALID_FILE_ATTRIBUTES;

    // Number (1-based) of the platform call that fails; 0: none fails.
    // wsprintfW is not counted: it cannot fail.
    int failingCall = 0;
};

// The world the substitute answers from; tests change it before a run.
World &TheWorld();

// Every platform call made since the last Reset(), formatted as text.
const std::vector<std::string> &Calls();

// Searches and keys opened and not yet closed.
int OpenSearches();
int OpenKeys();

// Restores the default world and clears the record.
void Reset();

// A string value's data: UTF-16LE characters followed by a NUL.
std::vector<BYTE> StringData(const std::u16string &text);

} // namespace recording

#endif // RECORDING_COREDLL_H
