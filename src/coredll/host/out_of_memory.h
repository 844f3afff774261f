/*
 * out_of_memory.h - no exception ever leaves a platform call.
 *
 * The few places of the layer that allocate (path resolution, the registry
 * file) may throw std::bad_alloc; the device code calls the layer as it
 * calls the platform, which never throws, so every entry point turns that
 * into the call's ordinary failure result.
 */
#ifndef COREDLL_HOST_OUT_OF_MEMORY_H
#define COREDLL_HOST_OUT_OF_MEMORY_H

#include <new>

namespace coredll {

/*
 * CallOrFail - runs `body` and returns its result, or `failure` when it runs
 * out of memory.
 */
template <typename Result, typename Body> Result CallOrFail(Result failure, Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return failure;
    }
}

} // namespace coredll

#endif /* COREDLL_HOST_OUT_OF_MEMORY_H */
