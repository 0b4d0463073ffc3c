# Cross build for the pedal's board (64-bit Arm, Cortex-A72) with Debian's cross compiler and the :arm64
# development packages installed through multiarch (scripts/deps.sh). Tests run through user-mode QEMU, so
# CTest and test discovery work on an x86 build machine without a binfmt handler.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(PEDAL_DEVICE_CPU cortex-a72 CACHE STRING "The -mcpu of the device build")
set(CMAKE_C_FLAGS_INIT "-mcpu=${PEDAL_DEVICE_CPU}")
set(CMAKE_CXX_FLAGS_INIT "-mcpu=${PEDAL_DEVICE_CPU}")

# Multiarch keeps the target's libraries in /usr/lib/aarch64-linux-gnu beside the build machine's, so the
# root is the build machine's own; only pkg-config must be kept away from the build machine's .pc files.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# -L gives the cross toolchain's loader; the loader must then take the C library from beside it too, as the
# link did. Left to its default search it finds the multiarch libc6:arm64 (installed with the :arm64
# packages), a different build of the C library than the loader's, and the first thread start hangs.
find_program(PEDAL_QEMU_AARCH64 qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR
  "${PEDAL_QEMU_AARCH64};-L;/usr/aarch64-linux-gnu;-E;LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib")
