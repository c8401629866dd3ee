# libsodium for the Windows build: Debian's libsodium source package, fetched
# once into a cache outside the source tree (never committed), copied into the
# build tree and built there as a static library with its own autotools for
# the cross compiler's host. Only the minimal API is built: Ed25519
# verification, BLAKE2b and the codecs are all the updater needs.
include(ExternalProject)

set(UPDATER_SODIUM_VERSION 1.0.18-1+deb12u1)
set(_sodium_tree libsodium-1.0.18)
if(NOT UPDATER_SOURCE_CACHE)
  set(UPDATER_SOURCE_CACHE ${CMAKE_BINARY_DIR}/_deps)
endif()
set(UPDATER_SODIUM_SOURCE_DIR "" CACHE PATH "Unpacked libsodium source tree (fetched when empty)")
if(NOT EXISTS "${UPDATER_SODIUM_SOURCE_DIR}/src/libsodium/include/sodium.h")
  message(STATUS "Fetching Debian's libsodium sources into ${UPDATER_SOURCE_CACHE}")
  execute_process(
    COMMAND ${PROJECT_SOURCE_DIR}/tools/windows/fetch-debian-source.sh ${UPDATER_SOURCE_CACHE}
      libsodium ${UPDATER_SODIUM_VERSION} ${_sodium_tree} src/libsodium/include/sodium.h
    OUTPUT_VARIABLE _sodium_source OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _fetch_result)
  if(NOT _fetch_result EQUAL 0 OR NOT EXISTS "${_sodium_source}/src/libsodium/include/sodium.h")
    message(FATAL_ERROR "libsodium sources could not be fetched (tools/windows/fetch-debian-source.sh)")
  endif()
  set(UPDATER_SODIUM_SOURCE_DIR ${_sodium_source} CACHE PATH
    "Unpacked libsodium source tree (fetched when empty)" FORCE)
endif()

# The configure script's --host: what the cross compiler builds for.
execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpmachine
  OUTPUT_VARIABLE _sodium_host OUTPUT_STRIP_TRAILING_WHITESPACE)

set(_sodium_prefix ${CMAKE_BINARY_DIR}/_deps/libsodium)
set(_sodium_library ${_sodium_prefix}/lib/libsodium.a)
ExternalProject_Add(libsodium_build
  PREFIX ${CMAKE_BINARY_DIR}/_deps/libsodium-build
  INSTALL_DIR ${_sodium_prefix}
  # autogen.sh writes into its tree: the build works on a copy of its own.
  DOWNLOAD_COMMAND ${CMAKE_COMMAND} -E copy_directory ${UPDATER_SODIUM_SOURCE_DIR} <SOURCE_DIR>
  PATCH_COMMAND ./autogen.sh -s
  CONFIGURE_COMMAND <SOURCE_DIR>/configure --host=${_sodium_host} --prefix=<INSTALL_DIR>
    --disable-shared --enable-static --enable-minimal --disable-dependency-tracking
    CC=${CMAKE_C_COMPILER}
  BUILD_COMMAND make -j2
  INSTALL_COMMAND make install
  BUILD_BYPRODUCTS ${_sodium_library}
  LOG_DOWNLOAD ON LOG_PATCH ON LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)

file(MAKE_DIRECTORY ${_sodium_prefix}/include)
add_library(updater_sodium_static STATIC IMPORTED GLOBAL)
set_target_properties(updater_sodium_static PROPERTIES IMPORTED_LOCATION ${_sodium_library})
add_dependencies(updater_sodium_static libsodium_build)
add_library(updater_sodium INTERFACE)
target_include_directories(updater_sodium SYSTEM INTERFACE ${_sodium_prefix}/include)
# Without SODIUM_STATIC the headers declare every function as imported from a DLL.
target_compile_definitions(updater_sodium INTERFACE SODIUM_STATIC=1)
target_link_libraries(updater_sodium INTERFACE updater_sodium_static)
