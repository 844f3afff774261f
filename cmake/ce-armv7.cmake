# Windows CE device build for ARMv7 (Windows Embedded Compact 7 and 2013
# class): Thumb-2, machine ARMNT (0x1C4), subsystem version 7.00.
set(CE_TRIPLE thumbv7-unknown-windows-msvc)
set(CE_CPU cortex-a8)
set(CE_MACHINE 0x1C4)
set(CE_SUBSYSTEM_VERSION 7.0)
include(${CMAKE_CURRENT_LIST_DIR}/ce-arm.cmake)
