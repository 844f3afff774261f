// program_run_test.cpp - the built program run in a temporary device root:
// the trace, the executable's device path and the start-up.
#include "temp_root.h"

#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

class ProgramRun : public TempRoot {
  protected:
    // Runs `program` with `arguments` and the root as working directory,
    // COREDLL_TRACE set to `trace` (unset when nullptr); returns the exit
    // status, stderr in `errors`.
    int Run(const std::string &program, const char *trace, std::string &errors,
            std::vector<std::string> arguments = {"any", "argument"})
    {
        std::vector<char *> argv{const_cast<char *>(program.c_str())};
        for (std::string &argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        std::string errors_path = base_ + "/stderr.txt";
        pid_t child = fork();
        if (child == 0) {
            int fd = open(errors_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, STDERR_FILENO) < 0 || chdir(root_.c_str()) != 0) {
                _exit(126);
            }
            if (trace != nullptr) {
                setenv("COREDLL_TRACE", trace, 1);
            } else {
                unsetenv("COREDLL_TRACE");
            }
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        int status = -1;
        waitpid(child, &status, 0);
        errors = ReadFile(errors_path);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Copies the built program to `relative` inside the root.
    void InstallProgram(const std::string &relative)
    {
        WriteFile(InRoot(relative), ReadFile(PROGRAM_PATH), 0755);
    }

    // A device where the service pack has just been installed.
    void TypicalDevice()
    {
        MakeDirs(InRoot("Temp/ServicePackOld/Sub"));
        MakeDirs(InRoot("Temp/ServicePack"));
        MakeDirs(InRoot("Windows"));
        WriteFile(InRoot("Temp/ServicePackOld/a.txt"), "a");
        WriteFile(InRoot("Temp/ServicePackOld/locked.txt"), "ro", 0444);
        WriteFile(InRoot("Windows/Pack.cab"), "cab");
        WriteFile(InRoot("registry.reg"),
                  "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\ORVEN ZK4070 ServicePack "
                  "1.13]\n\"CabFile\"=\"\\\\windows\\\\pack.cab\"\n");
    }
};

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool HasLine(const std::string &text, const std::string &line)
{
    for (const std::string &l : Lines(text)) {
        if (l == line) {
            return true;
        }
    }
    return false;
}

TEST_F(ProgramRun, TraceShowsEveryPlatformCallOnItsOwnLine)
{
    TypicalDevice();
    InstallProgram("Temp/ServicePack/sp.exe");
    std::string errors;
    ASSERT_EQ(Run(InRoot("Temp/ServicePack/sp.exe"), "1", errors), 0);

    EXPECT_TRUE(HasLine(errors, "DeleteFileW(\"\\Temp\\ServicePackOld\\a.txt\") = 1")) << errors;
    EXPECT_TRUE(HasLine(errors, "DeleteFileW(\"\\Temp\\ServicePackOld\\locked.txt\") = 0"));
    EXPECT_TRUE(HasLine(errors, "GetModuleFileNameW(NULL, \"\\Temp\\ServicePack\\sp.exe\", "
                                "260) = 24"));
    EXPECT_TRUE(HasLine(errors, "MoveFileW(\"\\Temp\\ServicePack\\sp.exe\", "
                                "\"\\Temp\\ServicePackOld\\PatchUnInstall.exe\") = 1"));
    EXPECT_TRUE(HasLine(errors, "RemoveDirectoryW(\"\\Temp\\ServicePack\") = 1"));
    EXPECT_TRUE(HasLine(errors, "DeleteFileW(\"\\windows\\pack.cab\") = 1"));
    // Handles, masks and attributes in hexadecimal; no raw pointer for an
    // output the call did not write.
    EXPECT_TRUE(HasLine(errors, "FindNextFileW(0x00005EA0, -) = 0"));
    EXPECT_TRUE(HasLine(errors, "GetFileAttributesW(\"\\windows\\pack.cab\") = 0x00000080"));
    EXPECT_TRUE(HasLine(errors, "RegOpenKeyExW(0x80000002, \"SOFTWARE\\Apps\\ORVEN ZK4070 "
                                "ServicePack 1.13\", 0x00000000, 0x000F003F, 0x00004E60) = 0"));
    const char *const names[] = {"wsprintfW(",          "FindFirstFileW(",   "FindNextFileW(",
                                 "FindClose(",          "DeleteFileW(",      "CreateDirectoryW(",
                                 "GetModuleFileNameW(", "MoveFileW(",        "RemoveDirectoryW(",
                                 "RegOpenKeyExW(",      "RegQueryValueExW(", "RegCloseKey(",
                                 "GetFileAttributesW("};
    for (const std::string &line : Lines(errors)) {
        bool known = false;
        for (const char *name : names) {
            known = known || line.rfind(name, 0) == 0;
        }
        EXPECT_TRUE(known && line.find(") = ") != std::string::npos) << line;
    }

    EXPECT_FALSE(Exists(InRoot("Temp/ServicePackOld/a.txt")));
    EXPECT_TRUE(Exists(InRoot("Temp/ServicePackOld/locked.txt")));
    EXPECT_TRUE(Exists(InRoot("Temp/ServicePackOld/Sub")));
    EXPECT_TRUE(Exists(InRoot("Temp/ServicePackOld/PatchUnInstall.exe")));
    EXPECT_FALSE(Exists(InRoot("Temp/ServicePack")));
    EXPECT_FALSE(Exists(InRoot("Windows/Pack.cab")));
}

TEST_F(ProgramRun, WithoutTheVariableNothingIsPrinted)
{
    TypicalDevice();
    InstallProgram("Temp/ServicePack/sp.exe");
    std::string errors;
    ASSERT_EQ(Run(InRoot("Temp/ServicePack/sp.exe"), nullptr, errors), 0);
    EXPECT_EQ(errors, "");
    EXPECT_TRUE(Exists(InRoot("Temp/ServicePackOld/PatchUnInstall.exe")));
    ASSERT_EQ(Run(InRoot("Temp/ServicePackOld/PatchUnInstall.exe"), "", errors), 0);
    EXPECT_EQ(errors, "");
}

TEST_F(ProgramRun, TheRunningExecutableIsNeverDeleted)
{
    MakeDirs(InRoot("Temp/ServicePackOld"));
    InstallProgram("Temp/ServicePackOld/sp.exe");
    std::string errors;
    ASSERT_EQ(Run(InRoot("Temp/ServicePackOld/sp.exe"), "1", errors), 0);
    EXPECT_TRUE(HasLine(errors, "DeleteFileW(\"\\Temp\\ServicePackOld\\sp.exe\") = 0")) << errors;
    EXPECT_TRUE(Exists(InRoot("Temp/ServicePackOld/PatchUnInstall.exe")));
}

TEST_F(ProgramRun, AProgramOutsideTheRootHasNoDevicePath)
{
    std::string errors;
    ASSERT_EQ(Run(PROGRAM_PATH, "1", errors), 0);
    EXPECT_TRUE(HasLine(errors, "GetModuleFileNameW(NULL, -, 260) = 0 (the executable lies "
                                "outside the device root)"))
        << errors;
    EXPECT_EQ(errors.find("MoveFileW("), std::string::npos);
    EXPECT_TRUE(Exists(PROGRAM_PATH));
}

TEST_F(ProgramRun, WithoutProcTheProgramStillEmptiesTheDirectoryAndMovesItself)
{
    // A private mount namespace with an empty /proc, as on a machine
    // without procfs.
    if (system("unshare --mount true 2>/dev/null") != 0) {
        GTEST_SKIP() << "unshare --mount is not available";
    }
#ifdef __SANITIZE_ADDRESS__
    // A sanitized program reads its options from /proc and needs it at exit.
    GTEST_SKIP() << "a sanitized program cannot run without /proc";
#endif
    TypicalDevice();
    for (int i = 0; i < 2000; ++i) { // more than one block of the search
        WriteFile(InRoot("Temp/ServicePackOld/leftover_" + std::to_string(i)), "");
    }
    InstallProgram("Temp/ServicePack/sp.exe");
    WriteFile(base_ + "/no-proc.sh",
              "mount -t tmpfs none /proc && exec \"" + InRoot("Temp/ServicePack/sp.exe") + "\"\n");
    std::string errors;
    ASSERT_EQ(Run("/usr/bin/unshare", "1", errors, {"--mount", "sh", base_ + "/no-proc.sh"}), 0)
        << errors;
    EXPECT_TRUE(HasLine(errors, "MoveFileW(\"\\Temp\\ServicePack\\sp.exe\", "
                                "\"\\Temp\\ServicePackOld\\PatchUnInstall.exe\") = 1"))
        << errors;
    EXPECT_FALSE(Exists(InRoot("Temp/ServicePackOld/leftover_1999")));
    EXPECT_FALSE(Exists(InRoot("Temp/ServicePackOld/a.txt")));
    EXPECT_TRUE(Exists(InRoot("Temp/ServicePackOld/PatchUnInstall.exe")));
    EXPECT_FALSE(Exists(InRoot("Temp/ServicePack")));
}

TEST_F(ProgramRun, APathLongerThanTheBufferIsRefusedAndNotMoved)
{
    std::string deep = "Temp/ServicePack";
    for (int i = 0; i < 6; ++i) {
        deep += "/" + std::string(40, static_cast<char>('a' + i));
    }
    MakeDirs(InRoot(deep));
    InstallProgram(deep + "/sp.exe");
    std::string errors;
    ASSERT_EQ(Run(InRoot(deep + "/sp.exe"), "1", errors), 0);
    // CE 6.0 and later refuse a buffer too short for the path (process.c).
    EXPECT_NE(errors.find("GetModuleFileNameW(NULL, -, 260) = 0\n"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("MoveFileW("), std::string::npos);
    EXPECT_TRUE(Exists(InRoot(deep + "/sp.exe")));
}

} // namespace
