/*
 * path_attacks_test.cpp - ".." runs, link loops, cabinets linked to the
 * outside, control characters and over-long paths.
 *
 * Every attack lays the usual device (a file in the old-pack directory, an
 * empty pack directory, a recorded cabinet), adds its own twist, places the
 * program inside the root,
 * runs the program and requires that the outside is exactly as it was and
 * that the run exited 0.
 */
#include "attack_run.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

struct PathAttack {
    std::string name;
    std::function<void(Sandbox &)> lay;
    /* Where the program lies and is started, below the root. */
    std::string program = "run/setup.exe";
};

std::string Repeat(const std::string &text, size_t times)
{
    std::string out;
    for (size_t i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

/* UTF-16LE bytes of an ASCII string. */
std::vector<uint8_t> Utf16(const std::string &text)
{
    std::vector<uint8_t> bytes;
    for (char c : text) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

/* A recorded cabinet path, as a string value. */
std::function<void(Sandbox &)> Cabinet(const std::string &path)
{
    return [path](Sandbox &sandbox) { sandbox.RegistryCabinet(path); };
}

/* A recorded cabinet path with the outside's absolute path in it. */
std::function<void(Sandbox &)> CabinetOutside(const std::string &before, const std::string &after)
{
    return [before, after](Sandbox &sandbox) {
        std::string path = before + sandbox.outside() + after;
        for (char &c : path) {
            c = c == '/' ? '\\' : c;
        }
        sandbox.RegistryCabinet(path);
    };
}

std::vector<PathAttack> DotDotAttacks()
{
    return {
        {"cabinet_dotdot_from_root", Cabinet("\\..\\outside\\pack.cab")},
        {"cabinet_dotdot_relative", Cabinet("..\\..\\outside\\pack.cab")},
        {"cabinet_dotdot_after_temp", Cabinet("\\Temp\\..\\..\\..\\outside\\Cab\\pack.cab")},
        {"cabinet_dotdot_slashes", Cabinet("/../../outside/victim.txt")},
        {"cabinet_dot_and_dotdot", Cabinet("\\.\\..\\.\\..\\outside\\pack.cab")},
        {"cabinet_dotdot_mixed_separators", Cabinet("\\Temp/..\\../outside/Temp/Cab/pack.cab")},
        {"cabinet_dotdot_many", Cabinet(Repeat("\\..", 14) + "\\outside\\pack.cab")},
        {"cabinet_host_absolute_path", CabinetOutside("", "\\pack.cab")},
        {"cabinet_dotdot_to_host_path", CabinetOutside("\\..\\..\\..\\..\\..", "\\pack.cab")},
        {"cabinet_drive_letter", Cabinet("C:\\..\\outside\\pack.cab")},
        {"cabinet_dotdot_last", Cabinet("\\Temp\\Cab\\..")},
        {"cabinet_only_dotdot", Cabinet("..")},
        {"old_pack_dotdot_link_name",
         [](Sandbox &sandbox) {
             sandbox.Link("../../../outside/ServicePackOld", "Temp/ServicePackOld/..up");
         }},
    };
}

std::vector<PathAttack> LoopAttacks()
{
    return {
        {"temp_links_to_itself",
         [](Sandbox &sandbox) {
             sandbox.Remove("Temp");
             sandbox.Link("Temp", "Temp");
         }},
        {"temp_links_through_dot",
         [](Sandbox &sandbox) {
             sandbox.Remove("Temp");
             sandbox.Link("./Temp", "Temp");
         }},
        {"temp_two_link_loop",
         [](Sandbox &sandbox) {
             sandbox.Remove("Temp");
             sandbox.Link("Temp2", "Temp");
             sandbox.Link("/Temp", "Temp2");
         }},
        {"old_pack_loops_through_its_parent",
         [](Sandbox &sandbox) {
             sandbox.Remove("Temp/ServicePackOld");
             sandbox.Link("../Temp/ServicePackOld", "Temp/ServicePackOld");
         }},
        {"old_pack_is_dot",
         [](Sandbox &sandbox) {
             sandbox.Remove("Temp/ServicePackOld");
             sandbox.Link(".", "Temp/ServicePackOld");
         }},
        {"cabinet_links_to_itself",
         [](Sandbox &sandbox) {
             sandbox.Link("pack.cab", "pack.cab");
             sandbox.RegistryCabinet("\\pack.cab");
         }},
        {"cabinet_through_loop_directory",
         [](Sandbox &sandbox) {
             sandbox.Link("Loop", "Loop");
             sandbox.RegistryCabinet("\\Loop\\x\\pack.cab");
         }},
        {"cabinet_behind_45_links",
         [](Sandbox &sandbox) {
             for (int i = 0; i < 45; ++i) {
                 sandbox.Link("L" + std::to_string(i + 1), "L" + std::to_string(i));
             }
             sandbox.Link(sandbox.outside() + "/pack.cab", "L45");
             sandbox.RegistryCabinet("\\L0");
         }},
        {"old_pack_entry_loop",
         [](Sandbox &sandbox) { sandbox.Link("loop", "Temp/ServicePackOld/loop"); }},
    };
}

std::vector<PathAttack> CabinetLinkAttacks()
{
    return {
        {"cabinet_absolute_link_to_outside_file",
         [](Sandbox &sandbox) {
             sandbox.Link(sandbox.outside() + "/pack.cab", "pack.cab");
             sandbox.RegistryCabinet("\\pack.cab");
         }},
        {"cabinet_relative_link_to_outside_file",
         [](Sandbox &sandbox) {
             sandbox.Link("../outside/pack.cab", "pack.cab");
             sandbox.RegistryCabinet("\\pack.cab");
         }},
        {"cabinet_rooted_dotdot_link",
         [](Sandbox &sandbox) {
             sandbox.Link("/../outside/pack.cab", "pack.cab");
             sandbox.RegistryCabinet("\\pack.cab");
         }},
        {"cabinet_link_to_outside_directory",
         [](Sandbox &sandbox) {
             sandbox.Link("../outside/empty", "pack.cab");
             sandbox.RegistryCabinet("\\pack.cab");
         }},
        {"cabinet_link_to_proc_magic",
         [](Sandbox &sandbox) {
             sandbox.Link("/proc/self/cwd/../outside/pack.cab", "pack.cab");
             sandbox.RegistryCabinet("\\pack.cab");
         }},
        {"old_pack_links_to_outside_files",
         [](Sandbox &sandbox) {
             sandbox.Link(sandbox.outside() + "/victim.txt", "Temp/ServicePackOld/abs.txt");
             sandbox.Link("../../../outside/victim.txt", "Temp/ServicePackOld/rel.txt");
             sandbox.Link("../../../outside/ServicePackOld", "Temp/ServicePackOld/dir");
         }},
        {"registry_absolute_link_to_outside",
         [](Sandbox &sandbox) {
             sandbox.Remove("registry.reg");
             sandbox.Link(sandbox.outside() + "/registry.reg", "registry.reg");
         }},
        {"registry_relative_link_to_outside",
         [](Sandbox &sandbox) {
             sandbox.Remove("registry.reg");
             sandbox.Link("../outside/registry.reg", "registry.reg");
         }},
    };
}

std::vector<PathAttack> NameAttacks()
{
    return {
        {"old_pack_control_character_names",
         [](Sandbox &sandbox) {
             for (const char *name : {"\x01", "a\nb", "\t", "\x7f", "\x1b[31m", "\r"}) {
                 sandbox.File(std::string("Temp/ServicePackOld/") + name, "x");
             }
         }},
        {"cabinet_with_control_characters",
         [](Sandbox &sandbox) {
             sandbox.File("Temp/Cab/p\x01.cab", "x");
             sandbox.RegistryCabinetBytes(Utf16("\\Temp\\Cab\\p\x01.cab"));
         }},
        {"cabinet_with_newline_then_outside",
         [](Sandbox &sandbox) {
             sandbox.RegistryCabinetBytes(Utf16("\\Temp\n\\..\\..\\outside\\pack.cab"));
         }},
        {"backslash_name_beside_escaping_link",
         [](Sandbox &sandbox) {
             sandbox.Link("../../../outside", "Temp/ServicePackOld/esc");
             sandbox.File("Temp/ServicePackOld/esc\\victim.txt", "x");
         }},
        {"backslash_name_beside_absolute_link",
         [](Sandbox &sandbox) {
             sandbox.Link(sandbox.outside() + "/ServicePackOld", "Temp/ServicePackOld/abs");
             sandbox.File("Temp/ServicePackOld/abs\\victim.txt", "x");
         }},
        {"cabinet_with_embedded_nul_then_outside",
         [](Sandbox &sandbox) {
             std::vector<uint8_t> data = Utf16("\\Temp\\Cab\\pack.cab");
             data.push_back(0);
             data.push_back(0);
             const std::vector<uint8_t> rest = Utf16("\\..\\outside\\pack.cab");
             data.insert(data.end(), rest.begin(), rest.end());
             sandbox.RegistryCabinetBytes(data);
         }},
    };
}

std::vector<PathAttack> LengthAttacks()
{
    return {
        {"cabinet_128_bytes_of_dotdot_no_nul",
         [](Sandbox &sandbox) {
             sandbox.RegistryCabinetBytes(Utf16(Repeat("\\..", 19) + "\\outside\\pac"));
         }},
        {"cabinet_130_bytes_naming_outside",
         [](Sandbox &sandbox) {
             sandbox.RegistryCabinetBytes(Utf16(Repeat("\\..", 16) + "\\outside\\pack.cab.."));
         }},
        {"old_pack_names_of_255_bytes",
         [](Sandbox &sandbox) {
             sandbox.File("Temp/ServicePackOld/" + Repeat("n", 255), "x");
             sandbox.File("Temp/ServicePackOld/" + Repeat("\xc3\xa9", 127), "x");
             sandbox.Link("../../../outside/victim.txt", "Temp/ServicePackOld/" + Repeat("l", 255));
         }},
        {"program_path_over_260_characters",
         [](Sandbox &sandbox) {
             /* Cut at 259 characters, the path would name this link. */
             sandbox.Directory(Repeat("d", 250));
             sandbox.Link("../../outside/victim.txt", Repeat("d", 250) + "/setup.e");
         },
         Repeat("d", 250) + "/setup.exe-and-more"},
        {"old_pack_deeper_than_path_max",
         [](Sandbox &sandbox) {
             /* 20 levels of 250 characters, reached through two links. */
             std::string first;
             std::string second;
             for (int i = 0; i < 20; ++i) {
                 std::string &half = i < 10 ? first : second;
                 half += Repeat(std::string(1, static_cast<char>('a' + i)), 250) + "/";
             }
             sandbox.DirectoryDeep(first + second);
             sandbox.Link(second, first + "hop");
             sandbox.File(first + "hop/x.txt", "x");
             sandbox.Remove("Temp/ServicePackOld");
             sandbox.Link("/" + first + "hop", "Temp/ServicePackOld");
         }},
        {"cabinet_64_characters_exactly",
         [](Sandbox &sandbox) {
             sandbox.RegistryCabinetBytes(Utf16("\\..\\..\\outside\\" + Repeat("c", 45) + ".cab"));
         }},
    };
}

std::vector<PathAttack> AllPathAttacks()
{
    std::vector<PathAttack> all;
    for (auto group :
         {DotDotAttacks(), LoopAttacks(), CabinetLinkAttacks(), NameAttacks(), LengthAttacks()}) {
        all.insert(all.end(), group.begin(), group.end());
    }
    return all;
}

class PathAttackTest : public ::testing::TestWithParam<PathAttack> {};

TEST_P(PathAttackTest, NothingOutsideChanges)
{
    const PathAttack &attack = GetParam();
    Sandbox sandbox(kProgram);
    sandbox.File("Temp/ServicePackOld/a.txt", "a");
    sandbox.Directory("Temp/ServicePack");
    sandbox.File("Temp/Cab/pack.cab", "cab");
    sandbox.RegistryCabinet("\\Temp\\Cab\\pack.cab");
    attack.lay(sandbox);
    sandbox.Program(attack.program);
    const std::string executable = sandbox.root() + "/" + attack.program;
    ExpectContained(sandbox, RunProgram(executable, sandbox.root()), attack.name);
}

INSTANTIATE_TEST_SUITE_P(Paths, PathAttackTest, ::testing::ValuesIn(AllPathAttacks()),
                         [](const ::testing::TestParamInfo<PathAttack> &info) {
                             return info.param.name;
                         });

} // namespace
