# Cross-building cellprod for Linux on s390x (big-endian).
set(CELLPROD_CROSS_ARCH s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
