/*
 * attack_run.cpp - running the program against a sandbox and judging it.
 */
#include "attack_run.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

const char *const kProgram = SERVICEPACK_CLEANUP_PROGRAM;

namespace {

int attacks_tried = 0;
constexpr int kTimeLimitMilliseconds = 20000;

/* Prints the figure once the whole suite has run. */
class AttackFigure : public ::testing::Environment {
  public:
    void TearDown() override
    {
        std::printf("containment: %d attacks tried\n", attacks_tried);
    }
};

const ::testing::Environment *const figure = ::testing::AddGlobalTestEnvironment(new AttackFigure);

} // namespace

RunResult RunProgram(const std::string &executable, const std::string &root)
{
    RunResult result;
    const pid_t child = fork();
    if (child < 0) {
        return result;
    }
    if (child == 0) {
        char *const argv[] = {const_cast<char *>(executable.c_str()), nullptr};
        char path_variable[] = "PATH=/usr/bin:/bin";
        char *const envp[] = {path_variable, nullptr};
        if (chdir(root.c_str()) == 0) {
            execve(executable.c_str(), argv, envp);
        }
        _exit(127);
    }
    result.started = true;
    for (int waited = 0;; waited += 5) {
        const pid_t done = waitpid(child, &result.wait_status, WNOHANG);
        if (done == child) {
            return result;
        }
        if (waited >= kTimeLimitMilliseconds) {
            kill(child, SIGKILL);
            waitpid(child, &result.wait_status, 0);
            result.timed_out = true;
            return result;
        }
        usleep(5000);
    }
}

void ExpectContained(const Sandbox &sandbox, const RunResult &result, const std::string &attack)
{
    ++attacks_tried;
    SCOPED_TRACE(attack);
    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.timed_out) << "the run did not end";
    EXPECT_TRUE(WIFEXITED(result.wait_status))
        << "the run died, wait status " << result.wait_status;
    if (WIFEXITED(result.wait_status)) {
        EXPECT_NE(WEXITSTATUS(result.wait_status), 127) << "the program could not be started";
        EXPECT_EQ(WEXITSTATUS(result.wait_status), 0);
    }
    const std::string differences =
        SnapshotDifferences(sandbox.outside_before(), TakeSnapshot(sandbox.outside()));
    EXPECT_EQ(differences, "") << "the run changed the outside:\n" << differences;
    EXPECT_TRUE(std::filesystem::exists(sandbox.root() + "/ReadProof.cab"))
        << "the run read the outside's registry";
}

int AttacksTried()
{
    return attacks_tried;
}

void CountAttack()
{
    ++attacks_tried;
}
