/*
 * fixture_tree.h - the temporary trees the file-system fuzz targets work in.
 *
 * A fixture is a temporary base directory (memory-backed /dev/shm when
 * usable) holding a device root and an "outside" directory beside it.  A
 * run that crashes leaves its base behind: scripts/fuzz.sh gives every run a
 * scratch directory (FUZZ_SCRATCH) of its own and removes it afterwards.  The
 * helpers lay entries out, describe trees exactly and remove them, never
 * following a symbolic link.  A helper that cannot do its work stops the
 * fuzzer with a crash: a broken fixture would make every later check void.
 */
#ifndef FUZZ_FIXTURE_TREE_H
#define FUZZ_FIXTURE_TREE_H

#include <map>
#include <string>
#include <sys/types.h>

/* An exact description of a tree: path -> mode and bytes or link target. */
using FixtureSnapshot = std::map<std::string, std::string>;

/*
 * MakeFixtureBase - makes a fresh temporary directory named after `name` in
 * $FUZZ_SCRATCH (else /dev/shm, else /tmp), removed again when the process
 * exits normally.  Returns its canonical path.
 */
std::string MakeFixtureBase(const char *name);

/* FixtureFail - reports `what` and stops with a crash. */
[[noreturn]] void FixtureFail(const std::string &what);

/* WriteFixtureFile - writes `text` to `path` (replacing it) with `mode`. */
void WriteFixtureFile(const std::string &path, const std::string &text, mode_t mode);

/* MakeFixtureLink - makes the symbolic link `path` -> `target`. */
void MakeFixtureLink(const std::string &target, const std::string &path);

/* RemoveFixtureTree - removes `path` and everything below it. */
void RemoveFixtureTree(const std::string &path);

/*
 * ClearFixtureDirectory - removes everything inside the directory `path`
 * except the entry named `keep` ("" keeps nothing); the directory stays.
 */
void ClearFixtureDirectory(const std::string &path, const std::string &keep);

/*
 * TakeFixtureSnapshot - describes everything below `top` (links not
 * followed), leaving out entries named `skip` ("" skips nothing).
 */
FixtureSnapshot TakeFixtureSnapshot(const std::string &top, const std::string &skip);

/*
 * MakeLayerRootOnce - makes `root` the host layer's device root: the layer
 * takes the working directory at its first use, so this enters `root`,
 * makes a first call and returns to where the fuzzer started (its corpus
 * and reproducers are relative to that).
 */
void MakeLayerRootOnce(const std::string &root);

#endif /* FUZZ_FIXTURE_TREE_H */
