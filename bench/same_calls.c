/*
 * same_calls.c - the system calls the host program makes to empty
 * "Temp/ServicePackOld", and no other work: the least the program's design
 * can cost, against which the program's own work shows.
 *
 * Run from inside a device image, as the program is.  Confined by Landlock
 * as the program confines itself; then the directory is read in 32 KiB
 * blocks, and for each entry: the search's newfstatat, the deletion's
 * openat2 of the directory from the root (RESOLVE_IN_ROOT), its newfstatat
 * and, for a file someone may write, unlinkat.  The directory fds are closed
 * in batches of 128 with close_range.  The program's amortized calls (its
 * start-up, the search's "still inside the root" checks) are left out.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <linux/landlock.h>
#include <linux/openat2.h>
#include <stdint.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#define BATCH 128

static void confine_to_current_directory(void)
{
    uint64_t handled =
        LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR |
        LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR |
        LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO |
        LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM | LANDLOCK_ACCESS_FS_REFER;
    long abi = syscall(SYS_landlock_create_ruleset, NULL, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 2) {
        return; /* The program does not confine itself there either. */
    }
    if (abi >= 3) {
        handled |= 1ULL << 14; /* LANDLOCK_ACCESS_FS_TRUNCATE */
    }
    struct landlock_ruleset_attr ruleset = {.handled_access_fs = handled};
    int ruleset_fd = (int)syscall(SYS_landlock_create_ruleset, &ruleset, sizeof(ruleset), 0);
    struct landlock_path_beneath_attr beneath = {.allowed_access = handled,
                                                 .parent_fd = open(".", O_PATH | O_CLOEXEC)};
    syscall(SYS_landlock_add_rule, ruleset_fd, LANDLOCK_RULE_PATH_BENEATH, &beneath, 0);
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    syscall(SYS_landlock_restrict_self, ruleset_fd, 0);
    close(beneath.parent_fd);
    close(ruleset_fd);
}

static int open_in_root(int root, const char *path, uint64_t flags)
{
    struct open_how how = {.flags = flags | O_CLOEXEC,
                           .resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS};
    return (int)syscall(SYS_openat2, root, path, &how, sizeof(how));
}

int main(void)
{
    static const char directory[] = "Temp/ServicePackOld";
    static char block[32768] __attribute__((aligned(8)));
    int waiting[BATCH];
    int waiting_count = 0;
    long got;

    confine_to_current_directory();
    int root = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    int search = open_in_root(root, directory, O_RDONLY | O_DIRECTORY);
    if (root < 0 || search < 0) {
        return 1;
    }
    while ((got = syscall(SYS_getdents64, search, block, sizeof(block))) > 0) {
        for (long offset = 0; offset < got;) {
            const char *name = block + offset + 19; /* d_name */
            unsigned short length;
            memcpy(&length, block + offset + 16, sizeof(length)); /* d_reclen */
            offset += length;
            struct stat st;
            if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0 ||
                fstatat(search, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            int dir = open_in_root(root, directory, O_PATH | O_DIRECTORY);
            if (dir < 0) {
                continue;
            }
            if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode) &&
                (st.st_mode & 0222) != 0) {
                unlinkat(dir, name, 0);
            }
            waiting[waiting_count++] = dir;
            if (waiting_count == BATCH) {
                /* Descriptors come lowest first, so a batch is one run. */
                syscall(SYS_close_range, waiting[0], waiting[BATCH - 1], 0);
                waiting_count = 0;
            }
        }
    }
    return 0;
}
