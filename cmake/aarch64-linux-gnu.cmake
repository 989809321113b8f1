# Cross build for 64-bit Arm Linux with Debian's g++-aarch64-linux-gnu; the target's libcrypto,
# libzstd, libdeflate and libxxhash come from Debian's arm64 packages installed alongside
# (multiarch). The programs run under qemu-aarch64. They are linked statically: Debian 12's
# qemu-user hangs in pthread_create of a dynamically linked program on recent kernels, while a
# static one starts its threads.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# The host's libraries would be found first; name the target's static ones (a missing one is
# reported by cmake/dependencies.cmake as a package of this Debian architecture).
set(TESSARY_DEBIAN_ARCH arm64)
set(OPENSSL_CRYPTO_LIBRARY /usr/lib/aarch64-linux-gnu/libcrypto.a CACHE FILEPATH "")
set(OPENSSL_CRYPTO_INCLUDE_DIR /usr/include CACHE PATH "")
set(ZSTD_LIBRARY /usr/lib/aarch64-linux-gnu/libzstd.a CACHE FILEPATH "")
set(DEFLATE_LIBRARY /usr/lib/aarch64-linux-gnu/libdeflate.a CACHE FILEPATH "")
set(XXHASH_LIBRARY /usr/lib/aarch64-linux-gnu/libxxhash.a CACHE FILEPATH "")
