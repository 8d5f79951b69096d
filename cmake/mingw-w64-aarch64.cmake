# Cross build for Windows on ARM64 with Debian's clang and lld, against the
# aarch64 mingw-w64 headers and C runtime that scripts/lib/arm64-runtime.sh
# (ombrin_arm64_toolchain) builds from Debian's own mingw-w64 source package.
# Debian has neither a C++ library nor a compiler runtime for this target:
# the program and its test helpers use the C runtime only, and the one piece of
# compiler runtime they need (__chkstk) comes from cmake/aarch64/chkstk.S, as
# libchkstk.a in the same folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(OMBRIN_MINGW_PREFIX aarch64-w64-mingw32)
if(NOT OMBRIN_ARM64_SYSROOT)
  set(OMBRIN_ARM64_SYSROOT "$ENV{OMBRIN_ARM64_SYSROOT}")
endif()
if(NOT OMBRIN_ARM64_SYSROOT)
  get_filename_component(OMBRIN_ARM64_SYSROOT
    "${CMAKE_CURRENT_LIST_DIR}/../build/toolchain-arm64/${OMBRIN_MINGW_PREFIX}" ABSOLUTE)
endif()
if(NOT EXISTS "${OMBRIN_ARM64_SYSROOT}/lib/libchkstk.a")
  message(FATAL_ERROR "No aarch64 mingw-w64 runtime in ${OMBRIN_ARM64_SYSROOT}: run "
    "'source scripts/common.sh; ombrin_arm64_toolchain' first, or set OMBRIN_ARM64_SYSROOT.")
endif()
# Passed on to the compiler checks, which read the toolchain file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OMBRIN_ARM64_SYSROOT)

set(CMAKE_SYSROOT "${OMBRIN_ARM64_SYSROOT}")
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_ASM_COMPILER clang)
# The release's BUILDINFO names the runtime this build links.
set(OMBRIN_ARM64_RUNTIME "${OMBRIN_ARM64_SYSROOT}" CACHE INTERNAL "aarch64 mingw-w64 runtime of this build")
foreach(language C CXX ASM)
  set(CMAKE_${language}_COMPILER_TARGET ${OMBRIN_MINGW_PREFIX})
endforeach()
# LLVM's own tools for this clang stand in its folder under their plain names
# (Debian puts only versioned names, such as llvm-windres-14, on the path).
find_program(OMBRIN_CLANG clang REQUIRED)
get_filename_component(OMBRIN_LLVM_BIN "${OMBRIN_CLANG}" REALPATH)
get_filename_component(OMBRIN_LLVM_BIN "${OMBRIN_LLVM_BIN}" DIRECTORY)
find_program(OMBRIN_LLVM_WINDRES llvm-windres PATHS "${OMBRIN_LLVM_BIN}" NO_DEFAULT_PATH REQUIRED)
set(CMAKE_RC_COMPILER "${OMBRIN_LLVM_WINDRES}")
# The resource script includes no system header.
set(CMAKE_RC_FLAGS_INIT "--target=${OMBRIN_MINGW_PREFIX}")

# In the ARM64 msvcrt import library __ms_fwprintf is only a weak alias of
# fwprintf, so with mingw's own printf (which C++ turns on) fwprintf calls
# itself until the stack overflows: use msvcrt's printf family directly.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=0")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=0")
# No libstdc++ and no libgcc for this target: link the C runtime by name.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -nodefaultlibs")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -nodefaultlibs")
set(OMBRIN_MINGW_LIBRARIES "-Wl,--start-group -lmingw32 -lmingwex -lmoldname -lmsvcrt -ladvapi32 -lshell32 -luser32 -lkernel32 -lchkstk -Wl,--end-group")
set(CMAKE_C_STANDARD_LIBRARIES "${OMBRIN_MINGW_LIBRARIES}")
set(CMAKE_CXX_STANDARD_LIBRARIES "${OMBRIN_MINGW_LIBRARIES}")

set(CMAKE_FIND_ROOT_PATH "${OMBRIN_ARM64_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
