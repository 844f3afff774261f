// temp_root.h - a fresh device root per test, in its own temporary directory.
#ifndef HOST_TESTS_TEMP_ROOT_H
#define HOST_TESTS_TEMP_ROOT_H

#include <gtest/gtest.h>

#include <string>

// TempRoot makes a fresh directory <tmp>/host_tests.XXXXXX with two children,
// "root" (the device root: the test runs with it as the working directory and
// the layer re-opened on it, standard input closed) and "outside" (a
// neighbour that nothing may touch).  Everything is removed again after the test.
class TempRoot : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Absolute host path of `relative` inside the root (or the root for "").
    std::string InRoot(const std::string &relative) const;
    // Absolute host path of `relative` inside the outside directory.
    std::string Outside(const std::string &relative) const;

    std::string base_;
    std::string root_;
    std::string outside_;

  private:
    std::string previous_cwd_;
    int lowest_free_fd_ = -1; // once the root is open: what a test must give back
    int saved_stdin_ = -1;    // fd 0 is closed during the test
};

// The lowest descriptor number not in use.
int LowestFreeFd();

// Writes `content` to the host file `path` with permissions `mode`.
void WriteFile(const std::string &path, const std::string &content, unsigned mode = 0644);
// Reads the host file `path`; "<missing>" when it cannot be opened.
std::string ReadFile(const std::string &path);
// Whether the host path exists (a dangling link counts).
bool Exists(const std::string &path);
// Makes the host directory `path` and any missing parents.
void MakeDirs(const std::string &path);
// Creates the symbolic link `path` pointing at `target`.
void MakeLink(const std::string &target, const std::string &path);

#endif
