# Toolchain of a static launcher: one CPU's GNU compiler from Debian, musl's
# headers and libraries for that CPU in place of glibc's, no C++ library.
# The toolkit's build passes VORLAN_ARCH, VORLAN_GNU_PREFIX (the compiler's
# name before "gcc": "" for the machine's own), VORLAN_MUSL_INCLUDE and
# VORLAN_MUSL_LIB (musl's headers and libraries for that CPU) and
# VORLAN_KERNEL_HEADERS (linux/ and asm/ of that CPU).
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VORLAN_ARCH VORLAN_GNU_PREFIX VORLAN_MUSL_INCLUDE VORLAN_MUSL_LIB
  VORLAN_KERNEL_HEADERS)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${VORLAN_ARCH})
set(CMAKE_C_COMPILER ${VORLAN_GNU_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${VORLAN_GNU_PREFIX}g++)
set(CMAKE_ASM_COMPILER ${VORLAN_GNU_PREFIX}gcc)

foreach(file include crtbeginT.o crtend.o libgcc.a libgcc_eh.a)
  execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=${file} OUTPUT_VARIABLE gcc_${file}
    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endforeach()
set(musl_include ${VORLAN_MUSL_INCLUDE})
set(musl_lib ${VORLAN_MUSL_LIB})
# Only musl's and the compiler's own headers, and the kernel's: nothing of
# glibc's or libstdc++'s can slip in. No position-independent code: a static
# executable loads at its link address.
set(flags "-nostdinc -isystem ${musl_include} -isystem ${gcc_include} -isystem ${VORLAN_KERNEL_HEADERS} -fno-pie")
set(CMAKE_C_FLAGS_INIT "${flags}")
set(CMAKE_ASM_FLAGS_INIT "${flags}")
set(CMAKE_CXX_FLAGS_INIT "${flags} -nostdinc++")
# musl's start files and libc; libgcc for what the CPU lacks (64-bit
# division on 32-bit CPUs); the driver's default libraries (libstdc++, and
# glibc's libc) never.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -no-pie -nostdlib ${musl_lib}/crt1.o ${musl_lib}/crti.o ${gcc_crtbeginT.o}")
set(CMAKE_C_STANDARD_LIBRARIES
  "-Wl,--start-group ${musl_lib}/libc.a ${gcc_libgcc.a} ${gcc_libgcc_eh.a} -Wl,--end-group ${gcc_crtend.o} ${musl_lib}/crtn.o")
set(CMAKE_CXX_STANDARD_LIBRARIES "${CMAKE_C_STANDARD_LIBRARIES}")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
