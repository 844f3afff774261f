/* dump_upcase.c - prints Wine's upper case of every UTF-16 code unit that has
 * one, as "XXXX YYYY" lines: RtlUpcaseUnicodeChar, the table behind the
 * file system's and the registry's case-insensitive names. */
#include <stdio.h>
#include <windows.h>

typedef WCHAR(WINAPI *Upcase)(WCHAR);

int main(int argc, char **argv)
{
    Upcase upcase = (Upcase)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                                   "RtlUpcaseUnicodeChar");
    FILE *out = argc > 1 ? fopen(argv[1], "w") : NULL;
    unsigned unit;
    if (upcase == NULL || out == NULL) {
        return 1;
    }
    for (unit = 0; unit < 0x10000; ++unit) {
        WCHAR upper = upcase((WCHAR)unit);
        if (upper != unit) {
            fprintf(out, "%04X %04X\n", unit, (unsigned)upper);
        }
    }
    return fclose(out) == 0 ? 0 : 1;
}
