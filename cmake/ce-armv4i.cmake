# Windows CE device build for ARMV4I (CE 5.0, 6.0 and Compact 7 on any ARM
# CPU from ARMv4T on): Thumb with BX interworking only, no BLX or anything
# else from ARMv5 on, machine THUMB (0x1C2), subsystem and OS version 5.00.
set(CE_TRIPLE thumbv4t-pc-windows-msvc)
set(CE_CPU arm7tdmi)
set(CE_MACHINE 0x1C2)
set(CE_SUBSYSTEM_VERSION 5.0)
include(${CMAKE_CURRENT_LIST_DIR}/ce-arm.cmake)
