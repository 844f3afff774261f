/* testing/ - the hooks by which tests set the layer up. */
/*
 * test_support.h - what a test changes in the layer: a fresh device root for
 * each case, and the kernel played by a table of its own.
 */
#ifndef COREDLL_HOST_TEST_SUPPORT_H
#define COREDLL_HOST_TEST_SUPPORT_H

#include "kernel/system_calls.h"

namespace coredll {

/*
 * ReopenDeviceRoot - makes the current working directory the device root:
 * closes every open search and registry key and re-opens the root.  For
 * tests, which give each case a fresh root (never after ConfineChangesToRoot,
 * which holds to the root it was given).  False when the directory cannot be
 * opened.
 */
bool ReopenDeviceRoot();

/* SetSystemCalls - makes `calls` the table every system call goes through. */
void SetSystemCalls(const SystemCalls &calls);

} // namespace coredll

#endif /* COREDLL_HOST_TEST_SUPPORT_H */
