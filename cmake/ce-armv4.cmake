# Windows CE device build for every ARM CE from 3.0 to Compact 7, on any ARM
# CPU from StrongARM on: ARM-mode ARMv4 code (no BX, no Thumb, nothing from
# ARMv4T on), machine ARM (0x1C0), subsystem and OS version 3.00, linked as
# ELF and written as a PE image by cmake/ce_elf_to_pe.py.
set(CE_TRIPLE armv4-none-eabi)
set(CE_CPU strongarm)
set(CE_MACHINE 0x1C0)
set(CE_SUBSYSTEM_VERSION 3.0)
set(CE_OBJECT_FORMAT elf)
include(${CMAKE_CURRENT_LIST_DIR}/ce-arm.cmake)
