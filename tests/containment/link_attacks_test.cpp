/*
 * link_attacks_test.cpp - a symbolic link leading out of the root at every
 * component of every path the program uses.
 *
 * The device tree is the usual one (files in the old-pack directory, an
 * empty pack directory, a recorded cabinet, the program inside the root).
 * Each attack replaces one component of one of the program's paths with a
 * link aimed at the outside: absolute, relative with just enough "..",
 * climbing to "/" and down again, and each of these onto the outside's
 * mirror of the same path.  A run must leave the outside exactly as it was
 * and exit 0.
 */
#include "attack_run.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

/* One path the program uses, by its components below the root; for a file,
 * the outside file that a link replacing its last component aims at. */
struct ProgramPath {
    const char *role;
    std::vector<std::string> components;
    const char *outside_file;
};

const ProgramPath kProgramPaths[] = {
    {"old-pack directory", {"Temp", "ServicePackOld"}, nullptr},
    {"pack directory", {"Temp", "ServicePack"}, nullptr},
    {"relocation target", {"Temp", "ServicePackOld", "PatchUnInstall.exe"}, "/victim.txt"},
    {"cabinet", {"Temp", "Cab", "pack.cab"}, "/pack.cab"},
    {"program", {"Temp", "ServicePack", "setup.exe"}, "/bin/servicepack-cleanup"},
};

/* How a link aims at the outside. */
enum class Aim { Absolute, AbsoluteMirror, Relative, RelativeMirror, ClimbFromLink, ClimbFromRoot };

const Aim kAims[] = {Aim::Absolute,       Aim::AbsoluteMirror, Aim::Relative,
                     Aim::RelativeMirror, Aim::ClimbFromLink,  Aim::ClimbFromRoot};

const char *AimName(Aim aim)
{
    switch (aim) {
    case Aim::Absolute:
        return "absolute";
    case Aim::AbsoluteMirror:
        return "absolute-mirror";
    case Aim::Relative:
        return "relative";
    case Aim::RelativeMirror:
        return "relative-mirror";
    case Aim::ClimbFromLink:
        return "climb-from-link";
    default:
        return "climb-from-root";
    }
}

struct LinkAttack {
    const ProgramPath *path;
    size_t index; /* the component replaced by the link */
    Aim aim;
};

std::string Repeat(const std::string &text, size_t times)
{
    std::string out;
    for (size_t i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

/* The link's target for an attack, given the outside's absolute path. */
std::string LinkTarget(const LinkAttack &attack, const std::string &outside)
{
    std::string mirror;
    for (size_t i = 0; i <= attack.index; ++i) {
        mirror += "/" + attack.path->components[i];
    }
    const bool last = attack.index + 1 == attack.path->components.size();
    const std::string plain = last && attack.path->outside_file ? attack.path->outside_file : "";
    const std::string up = Repeat("../", attack.index + 1);
    switch (attack.aim) {
    case Aim::Absolute:
        return outside + plain;
    case Aim::AbsoluteMirror:
        return outside + mirror;
    case Aim::Relative:
        return up + "outside" + plain;
    case Aim::RelativeMirror:
        return up + "outside" + mirror;
    case Aim::ClimbFromLink:
        return Repeat("../", attack.index + 12) + outside.substr(1) + plain;
    default:
        return "/" + Repeat("../", 12) + outside.substr(1) + plain;
    }
}

std::vector<LinkAttack> AllLinkAttacks()
{
    std::vector<LinkAttack> attacks;
    for (const ProgramPath &path : kProgramPaths) {
        for (size_t index = 0; index < path.components.size(); ++index) {
            for (Aim aim : kAims) {
                attacks.push_back({&path, index, aim});
            }
        }
    }
    return attacks;
}

std::string AttackName(const ::testing::TestParamInfo<LinkAttack> &info)
{
    std::string name = std::string(info.param.path->role) + "_at_" +
                       info.param.path->components[info.param.index] + "_" +
                       AimName(info.param.aim);
    for (char &c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

/* The usual device: two files to empty, an empty pack directory, the
 * recorded cabinet and the program, here inside the root. */
void LayDevice(Sandbox &sandbox, const std::string &program)
{
    sandbox.File("Temp/ServicePackOld/a.txt", "a");
    sandbox.File("Temp/ServicePackOld/b.txt", "b");
    sandbox.Directory("Temp/ServicePack");
    sandbox.File("Temp/Cab/pack.cab", "cab");
    sandbox.RegistryCabinet("\\Temp\\Cab\\pack.cab");
    sandbox.Program(program);
}

class LinkAttackTest : public ::testing::TestWithParam<LinkAttack> {};

TEST_P(LinkAttackTest, NothingOutsideChanges)
{
    const LinkAttack &attack = GetParam();
    Sandbox sandbox(kProgram);
    const bool program_path = std::string(attack.path->role) == "program";
    const std::string program = program_path ? "Temp/ServicePack/setup.exe" : "run/setup.exe";
    LayDevice(sandbox, program);

    std::string relative;
    for (size_t i = 0; i <= attack.index; ++i) {
        relative += (i == 0 ? "" : "/") + attack.path->components[i];
    }
    sandbox.Remove(relative);
    const std::string target = LinkTarget(attack, sandbox.outside());
    sandbox.Link(target, relative);

    /* Started through the root, the program really lies wherever the
     * kernel's ordinary walk leads: put a copy there (outside, mostly). */
    std::string executable = sandbox.root() + "/" + program;
    if (program_path) {
        std::error_code error;
        fs::path real = fs::weakly_canonical(executable, error);
        if (fs::is_symlink(real)) {
            /* The link replaces the program itself and leads nowhere yet. */
            real = (real.parent_path() / fs::read_symlink(real)).lexically_normal();
        }
        if (!fs::exists(real)) {
            fs::create_directories(real.parent_path());
            fs::copy_file(kProgram, real);
            fs::permissions(real, fs::perms::owner_all);
        }
        sandbox.RecordOutside();
    }
    ExpectContained(sandbox, RunProgram(executable, sandbox.root()),
                    AttackName({attack, 0}) + " -> " + target);
}

INSTANTIATE_TEST_SUITE_P(EveryComponent, LinkAttackTest, ::testing::ValuesIn(AllLinkAttacks()),
                         AttackName);

} // namespace
