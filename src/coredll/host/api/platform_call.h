/* api/ - the platform functions of coredll.h, each call guarded and traced. */
/*
 * platform_call.h - what every platform function of the layer does around
 * its own work.
 *
 * A platform function is its work (an ...Impl function) run by Guarded,
 * which starts the call without a failure note and turns running out of
 * memory into the call's ordinary failure result (the device code calls the
 * layer as it calls the platform, which never throws), followed by one
 * Trace line (trace.h).
 */
#ifndef COREDLL_HOST_PLATFORM_CALL_H
#define COREDLL_HOST_PLATFORM_CALL_H

#include "trace/trace.h"

#include <new>

namespace coredll {

/* Guarded - runs `body` and returns its result, or `failure` when it runs
 * out of memory. */
template <typename Result, typename Body> Result Guarded(Result failure, Body body)
{
    ClearFailureNote();
    try {
        return body();
    } catch (const std::bad_alloc &) {
        NoteFailure("out of memory");
        return failure;
    }
}

} // namespace coredll

#endif /* COREDLL_HOST_PLATFORM_CALL_H */
