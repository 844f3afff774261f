/*
 * command_line.h - the wide command line a program's entry receives.
 */
#ifndef COREDLL_HOST_COMMAND_LINE_H
#define COREDLL_HOST_COMMAND_LINE_H

#include <string>

namespace coredll {

/*
 * CommandLine - argv[first..argc) as one line: arguments separated by a
 * space; an argument that is empty or holds a blank is double-quoted; bytes
 * that are not UTF-8 become U+FFFD.
 */
std::u16string CommandLine(int argc, char **argv, int first);

} // namespace coredll

#endif /* COREDLL_HOST_COMMAND_LINE_H */
