/*
 * attack_run.h - running the program against a sandbox and judging it.
 */
#ifndef CONTAINMENT_ATTACK_RUN_H
#define CONTAINMENT_ATTACK_RUN_H

#include "sandbox.h"

#include <string>

/* How a run of the program ended. */
struct RunResult {
    bool started = false;   /* the child could be made */
    bool timed_out = false; /* killed after the time limit */
    int wait_status = 0;    /* as waitpid reports it */
};

/*
 * RunProgram - runs the executable at `executable` with the working
 * directory (the device root) `root`, no arguments and a minimal
 * environment (no tracing).  Kills it after 20 seconds.
 */
RunResult RunProgram(const std::string &executable, const std::string &root);

/*
 * ExpectContained - the judgement of one attack, as GoogleTest failures:
 * the run exited normally with status 0, and the outside tree is exactly
 * as recorded, and the root's "ReadProof.cab" (which only the outside's
 * registry names) is still there.  Counts the attack.
 */
void ExpectContained(const Sandbox &sandbox, const RunResult &result, const std::string &attack);

/* AttacksTried - attacks judged so far in this process. */
int AttacksTried();

/* CountAttack - counts one attack judged by other means. */
void CountAttack();

/* The built program, as CMake passes it. */
extern const char *const kProgram;

#endif /* CONTAINMENT_ATTACK_RUN_H */
