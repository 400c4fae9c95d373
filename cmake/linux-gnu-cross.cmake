# Cross-building cellprod for Linux on CELLPROD_CROSS_ARCH with Debian's cross compiler for it,
# linked statically so that qemu-user runs it without a target sysroot. Included by the
# toolchain file of each CPU, which sets CELLPROD_CROSS_ARCH.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${CELLPROD_CROSS_ARCH})

set(CMAKE_C_COMPILER ${CELLPROD_CROSS_ARCH}-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER ${CELLPROD_CROSS_ARCH}-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${CELLPROD_CROSS_ARCH}-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CELLPROD_CROSS_ARCH})
