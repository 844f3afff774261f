// program_run_test.cpp - the built program run in a temporary device root:
// the trace, the executable's device path and the start-up.
#include "temp_root.h"

#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
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
            // A run that hangs is killed by SIGALRM (kept across execv).
            alarm(seconds_allowed_);
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

    // How long a run may take before it is killed; 0: no limit.
    unsigned seconds_allowed_ = 0;

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
    EXPECT_NE(errors.find("FindFirstFileW(\"\\Temp\\ServicePackOld\\*.*\", \""), std::string::npos);
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
    for (const char *name : names) { // the run makes each of these calls
        EXPECT_NE(errors.find(name), std::string::npos) << name;
    }

    EXPECT_FALSE(Exists(InRoot("Temp/ServicePackOld/a.txt")));
    EXPECT_TRUE(Exists(InRoot("Temp/ServicePackOld/locked.txt")));
    EXPECT_TRUE(Exists(InRoot("Temp/ServicePackOld/Sub")));
    EXPECT_TRUE(Exists(InRoot("Temp/ServicePackOld/PatchUnInstall.exe")));
    EXPECT_FALSE(Exists(InRoot("Temp/ServicePack")));
    EXPECT_FALSE(Exists(InRoot("Windows/Pack.cab")));

    // Data too long for the buffer: the type is written, the data is not.
    const std::string value = "\"CabFile\"=\"" + std::string(70, 'x') + "\"\n";
    WriteFile(InRoot("registry.reg"),
              "REGEDIT4\n[HKLM\\SOFTWARE\\Apps\\ORVEN ZK4070 ServicePack 1.13]\n" + value);
    ASSERT_EQ(Run(PROGRAM_PATH, "1", errors), 0);
    EXPECT_TRUE(
        HasLine(errors, "RegQueryValueExW(0x00004E60, \"CabFile\", NULL, 1, -, 142) = 234"));
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

namespace {

// Makes a file of `kind` at `path`: "fifo", "socket", "character device"
// (/dev/null's numbers), "directory" or "dangling link" (to `target`).
// False when this process may not (a device needs CAP_MKNOD).
bool MakeSpecial(const std::string &kind, const std::string &path, const std::string &target)
{
    if (kind == "fifo") {
        return mkfifo(path.c_str(), 0644) == 0;
    }
    if (kind == "character device") {
        return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    }
    if (kind == "directory") {
        return mkdir(path.c_str(), 0755) == 0;
    }
    if (kind == "dangling link") {
        return symlink(target.c_str(), path.c_str()) == 0;
    }
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        return false;
    }
    path.copy(address.sun_path, path.size());
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    bool bound =
        fd >= 0 && bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0;
    close(fd);
    return bound;
}

} // namespace

// A file the run cannot use, at each place the run reads or changes: the run
// never waits on it, never follows it out of the root, and ends with 0.
TEST_F(ProgramRun, FilesOfEveryTypeAtEachPlaceTheRunUsesEndTheRun)
{
    struct Place {
        const char *relative;
        const char *kinds[5];
    };
    const Place places[] = {
        {"registry.reg", {"fifo", "socket", "character device", "directory", "dangling link"}},
        {"Temp/ServicePackOld/odd", {"fifo", "socket", "character device", "dangling link"}},
        {"Windows/Pack.cab", {"fifo", "socket", "character device", "dangling link"}},
        {"Temp", {"fifo", "socket", "character device", "dangling link"}},
    };
    seconds_allowed_ = 5;
    WriteFile(Outside("canary"), "canary");
    for (const Place &place : places) {
        for (const char *kind : place.kinds) {
            if (kind == nullptr) {
                continue;
            }
            const std::string what = std::string(kind) + " as " + place.relative;
            std::filesystem::remove_all(root_);
            MakeDirs(root_);
            TypicalDevice();
            std::filesystem::remove_all(InRoot(place.relative));
            MakeDirs(std::filesystem::path(InRoot(place.relative)).parent_path());
            if (!MakeSpecial(kind, InRoot(place.relative), Outside("nowhere"))) {
                ASSERT_EQ(std::string(kind), "character device") << what;
                continue; // no device nodes without CAP_MKNOD
            }
            std::string errors;
            EXPECT_EQ(Run(PROGRAM_PATH, nullptr, errors), 0) << what << " (-1: killed, hung)";
            EXPECT_EQ(ReadFile(Outside("canary")), "canary") << what;
            EXPECT_FALSE(Exists(Outside("nowhere"))) << what;
            const std::string place_name = place.relative;
            if (place_name == "Temp") {
                EXPECT_TRUE(Exists(InRoot("Temp"))) << what << ": left as it is";
                continue;
            }
            // Every file in the old pack goes, whatever its type.
            EXPECT_FALSE(Exists(InRoot("Temp/ServicePackOld/a.txt"))) << what;
            EXPECT_FALSE(Exists(InRoot("Temp/ServicePackOld/odd"))) << what;
            // No registry names no cabinet; a cabinet whose attributes cannot
            // be read (a dangling link) is not deleted.
            const bool cabinet_stays =
                place_name == "registry.reg" ||
                (place_name == "Windows/Pack.cab" && std::string(kind) == "dangling link");
            EXPECT_EQ(Exists(InRoot("Windows/Pack.cab")), cabinet_stays) << what;
        }
    }
}
