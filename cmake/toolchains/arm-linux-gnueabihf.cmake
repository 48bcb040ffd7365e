# 32-bit ARM Linux (armhf, as on Raspberry Pi OS 32-bit) with Debian's cross
# compiler; the tests run under qemu-user with the target's libraries from
# /usr/arm-linux-gnueabihf.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
# Everything is built with this one compiler, so GCC's notes on an ABI change
# of GCC 7.1 concern no caller of ours; and with 32-bit sizes GCC 12 sees
# overlapping copies in std::string's own code that are not there (GCC bug
# 105651). Both would only bury real warnings in the log.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi -Wno-restrict")

set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(OSTREVANE_QEMU qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${OSTREVANE_QEMU} -L /usr/arm-linux-gnueabihf)
