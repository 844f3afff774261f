# Windows CE device build for ARMv5TE (XScale and ARM926 class, Windows CE 5
# and 6): Thumb with BLX and no Thumb-2, machine THUMB (0x1C2), subsystem
# version 5.00.
set(CE_TRIPLE thumbv5te-unknown-windows-msvc)
set(CE_CPU arm926ej-s)
set(CE_MACHINE 0x1C2)
set(CE_SUBSYSTEM_VERSION 5.0)
include(${CMAKE_CURRENT_LIST_DIR}/ce-arm.cmake)
