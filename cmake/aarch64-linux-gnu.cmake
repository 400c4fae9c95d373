# Cross-building cellprod for Linux on aarch64 (little-endian ARM64).
set(CELLPROD_CROSS_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
