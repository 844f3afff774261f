# Windows CE device build for Windows Embedded Compact 2013 (ARMv7): Thumb-2,
# machine ARMNT (0x1C4), subsystem and OS version 8.00 (the least that
# Compact 2013's loader takes).
set(CE_TRIPLE thumbv7-unknown-windows-msvc)
set(CE_CPU cortex-a8)
set(CE_MACHINE 0x1C4)
set(CE_SUBSYSTEM_VERSION 8.0)
set(CE_OBJECT_FORMAT coff)
include(${CMAKE_CURRENT_LIST_DIR}/ce-arm.cmake)
