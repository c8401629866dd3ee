# libsodium (Ed25519 verification, BLAKE2b, base64): Debian's libsodium-dev on
# Linux. The Windows build compiles it from Debian's libsodium source package
# (cmake/windows/SodiumFromSource.cmake).
if(NOT TARGET updater_sodium)
  if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/windows/SodiumFromSource.cmake)
  else()
    find_path(SODIUM_INCLUDE_DIR sodium.h)
    find_library(SODIUM_LIBRARY sodium)
    if(NOT SODIUM_INCLUDE_DIR OR NOT SODIUM_LIBRARY)
      message(FATAL_ERROR "libsodium not found: run tools/install-deps.sh build")
    endif()
    add_library(updater_sodium INTERFACE)
    target_include_directories(updater_sodium SYSTEM INTERFACE ${SODIUM_INCLUDE_DIR})
    target_link_libraries(updater_sodium INTERFACE ${SODIUM_LIBRARY})
  endif()
endif()
