# Windows CE ARM device builds with Debian's LLVM 16 (clang-16, lld-16,
# llvm-16); included by ce-armv4.cmake and ce-armv7.cmake, which name the
# triple, CPU, machine field, subsystem version and object format.
#
# Sources are compiled by `clang-16 -cc1` with the triple given exactly:
# clang's driver turns every ARM Windows triple into thumbv7.  The rules that
# do so are set in CMakeLists.txt (CE_DEVICE_BUILD); here CMake only learns
# the tools.  COFF (ARMv7): lld-link links against COREDLL's import library.
# ELF (ARMv4): LLVM writes ARM-mode code only as ELF, so ld.lld links and
# cmake/ce_elf_to_pe.py writes the PE image.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CE_DEVICE_BUILD ON)

find_program(CE_CLANG clang-16 REQUIRED)
find_program(CE_AR llvm-ar-16 REQUIRED)
find_program(CE_RANLIB llvm-ranlib-16 REQUIRED)
if(CE_OBJECT_FORMAT STREQUAL "elf")
    find_program(CE_LINKER ld.lld-16 REQUIRED)
else()
    find_program(CE_LINKER lld-link-16 REQUIRED)
    find_program(CE_DLLTOOL llvm-dlltool-16 REQUIRED)
endif()
# Debian's python3-pefile and python3-pyelftools are seen only by the system
# interpreter.
set(CE_PYTHON /usr/bin/python3)

set(CMAKE_CXX_COMPILER ${CE_CLANG})
set(CMAKE_AR ${CE_AR})
set(CMAKE_RANLIB ${CE_RANLIB})
set(CMAKE_LINKER ${CE_LINKER})
# Nothing is linked while CMake probes the compiler.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
