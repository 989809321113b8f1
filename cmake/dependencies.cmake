# The system libraries the core links: libdeflate and libzstd (gzip members and zstd frames),
# libcrypto and libxxhash (SHA-256 and XXH3-128 digests).
#
# All of them are looked for, none required, so that the caller can stop the configuration with
# one message naming every missing Debian package rather than with the trace of the first failed
# find. A library is missing when its header or its library file is not found, or when a path
# given for it (on the command line, or by a toolchain file) names no file.
#
# Defines the INTERFACE target tessary_system_libraries (their headers and libraries) and
# TESSARY_MISSING_PACKAGES (the Debian packages of the missing ones, empty if none). The usual
# cache variables (ZSTD_LIBRARY, DEFLATE_INCLUDE_DIR, ...) select other copies. A cross toolchain
# file sets TESSARY_DEBIAN_ARCH (arm64, say) so that the message names the target's packages.

# Each entry: variable prefix | Debian package | header | library name.
set(TESSARY_SYSTEM_LIBRARIES
    "ZSTD|libzstd-dev|zstd.h|zstd"
    "OPENSSL_CRYPTO|libssl-dev|openssl/evp.h|crypto"
    "DEFLATE|libdeflate-dev|libdeflate.h|deflate"
    "XXHASH|libxxhash-dev|xxhash.h|xxhash")

add_library(tessary_system_libraries INTERFACE)
set(TESSARY_MISSING_PACKAGES "")
foreach(entry IN LISTS TESSARY_SYSTEM_LIBRARIES)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 prefix)
  list(GET fields 1 package)
  list(GET fields 2 header)
  list(GET fields 3 name)
  find_path(${prefix}_INCLUDE_DIR NAMES ${header})
  find_library(${prefix}_LIBRARY NAMES ${name})
  if(${prefix}_INCLUDE_DIR AND EXISTS "${${prefix}_INCLUDE_DIR}/${header}"
     AND ${prefix}_LIBRARY AND EXISTS "${${prefix}_LIBRARY}")
    target_include_directories(tessary_system_libraries SYSTEM INTERFACE ${${prefix}_INCLUDE_DIR})
    target_link_libraries(tessary_system_libraries INTERFACE ${${prefix}_LIBRARY})
  else()
    if(TESSARY_DEBIAN_ARCH)
      string(APPEND package ":${TESSARY_DEBIAN_ARCH}")
    endif()
    list(APPEND TESSARY_MISSING_PACKAGES ${package})
  endif()
endforeach()
