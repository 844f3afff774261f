/*
 * sandbox.h - a device root with an outside world beside it, for attacks.
 *
 * Each sandbox is a fresh temporary directory holding "root" (the device
 * root a run works in) and "outside" (everything a run must never touch:
 * canary files laid out like the device's own directories, so that an
 * escaping link or ".." finds something to delete, create, move or remove,
 * and "outside/bin/servicepack-cleanup", a copy of the program).  The root
 * starts with "ReadProof.cab", which only the outside's registry names.  The
 * destructor removes the whole directory, never following a link.
 */
#ifndef CONTAINMENT_SANDBOX_H
#define CONTAINMENT_SANDBOX_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

/* An exact description of a tree: relative path -> kind, mode and bytes or
 * link target.  Links are never followed. */
using TreeSnapshot = std::map<std::string, std::string>;

/*
 * TakeSnapshot - describes everything below `top`.  An unreadable entry is
 * described as such rather than skipped.
 */
TreeSnapshot TakeSnapshot(const std::string &top);

/*
 * SnapshotDifferences - one line per entry that differs between `before`
 * and `after` ("" when they are equal).
 */
std::string SnapshotDifferences(const TreeSnapshot &before, const TreeSnapshot &after);

class Sandbox {
  public:
    /* Makes the temporary directory, the root and the outside canaries;
     * copies the program (path `program`) to outside/bin.  Aborts the test
     * program when the directory cannot be made. */
    explicit Sandbox(const std::string &program);
    /* Removes everything the sandbox made, links not followed. */
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    /* Absolute paths of the root, the outside directory and the base. */
    const std::string &root() const;
    const std::string &outside() const;
    const std::string &base() const;
    /* The outside copy of the program. */
    std::string outside_program() const;

    /* Creates, below the root, a file (with its parents), a directory (with
     * its parents) or a symbolic link; aborts the test on failure. */
    void File(const std::string &relative, const std::string &content, unsigned mode = 0644);
    void Directory(const std::string &relative);
    /* Creates a chain of directories one level at a time, for chains whose
     * whole path is longer than the kernel takes at once. */
    void DirectoryDeep(const std::string &relative);
    void Link(const std::string &target, const std::string &relative);
    /* Removes an entry below the root (a directory with its contents). */
    void Remove(const std::string &relative);
    /* Copies the program to `relative` below the root (mode 0755). */
    void Program(const std::string &relative);

    /* Writes root/registry.reg holding the package key with "CabFile" as a
     * string value (`cabinet` is UTF-8; backslashes and quotes escaped). */
    void RegistryCabinet(const std::string &cabinet);
    /* The same with raw value data written as hex bytes (type REG_BINARY). */
    void RegistryCabinetBytes(const std::vector<uint8_t> &data);

    /* The outside tree's snapshot when the sandbox was laid out. */
    const TreeSnapshot &outside_before() const;
    /* Records the outside tree again (after an attack added to it). */
    void RecordOutside();

  private:
    std::string program_;
    std::string base_;
    std::string root_;
    std::string outside_;
    TreeSnapshot outside_before_;
};

/* The package key as the registry export spells it. */
extern const char *const kPackageKey;

#endif /* CONTAINMENT_SANDBOX_H */
