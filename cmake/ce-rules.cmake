# Compile and link rules of the Windows CE ARM device builds (CE_DEVICE_BUILD,
# set by cmake/ce-arm.cmake); included by CMakeLists.txt.
#
# Compiling: clang-16 -cc1 with the exact triple and CPU, C++03, no
# exceptions, no RTTI, freestanding with no builtins (so no call to memset or
# memcpy is ever made up), no header search path but the program's own, soft
# floating point (the platform's AAPCS) and no frame pointer.  Every warning
# is an error.  For ELF, as the platform's compilers do: absolute addresses
# (not position-independent code) and a 16-bit unsigned wchar_t.
set(CE_COMPILE_FLAGS
    -triple ${CE_TRIPLE} -target-cpu ${CE_CPU} -mfloat-abi soft -mframe-pointer=none
    -std=c++03 -fno-rtti -ffreestanding -fno-builtin -nostdsysteminc -nobuiltininc
    -ffunction-sections -Os -Wall -Wextra -Werror)
if(CE_OBJECT_FORMAT STREQUAL "elf")
    list(APPEND CE_COMPILE_FLAGS -mrelocation-model static -fwchar-type=short -fno-signed-wchar)
endif()
list(JOIN CE_COMPILE_FLAGS " " ce_compile_flags)
set(CMAKE_CXX_COMPILE_OBJECT
    "<CMAKE_CXX_COMPILER> -cc1 ${ce_compile_flags} <DEFINES> <INCLUDES> <FLAGS> -emit-obj -o <OBJECT> <SOURCE>")
set(CMAKE_DEPFILE_FLAGS_CXX "-dependency-file <DEP_FILE> -MT <OBJECT>")
# The flags above are the whole story: no configuration adds to them.
string(TOUPPER "${CMAKE_BUILD_TYPE}" ce_build_type)
set(CMAKE_CXX_FLAGS "")
set(CMAKE_CXX_FLAGS_${ce_build_type} "")
set(CMAKE_INCLUDE_FLAG_CXX "-I ")

if(CE_OBJECT_FORMAT STREQUAL "elf")
    # Linking: ld.lld by cmake/ce-armv4.ld, keeping every relocation
    # (--emit-relocs) for the image writer; src/coredll/ce/ then writes the PE
    # image.  Nothing provides memset, memcpy or a division helper, so a call
    # the compiler made up fails the link.
    set(CMAKE_CXX_LINK_EXECUTABLE
        "<CMAKE_LINKER> --emit-relocs --gc-sections <LINK_FLAGS> <OBJECTS> <LINK_LIBRARIES> -o <TARGET>")
else()
    # Linking: lld-link without any default library, COREDLL's import library
    # the only one.  lld refuses /subsystem:windowsce, so the image is linked
    # as a Windows GUI program and cmake/ce_finish_image.py then sets the
    # subsystem, its version, the machine field and the checksum.
    set(CMAKE_CXX_LINK_EXECUTABLE
        "<CMAKE_LINKER> /nologo /nodefaultlib /machine:arm /subsystem:windows <LINK_FLAGS> <OBJECTS> <LINK_LIBRARIES> /out:<TARGET>")
endif()
