# minizip: unzip.c and ioapi.c (and iowin32.c on Windows) of Debian's zlib
# source package, compiled in the build tree against the system's zlib
# (MinGW's for Windows). The source is fetched once into a cache outside the
# source tree (never committed). Headers are reached as <minizip/unzip.h>.
set(_default_cache ${CMAKE_BINARY_DIR}/_deps)
execute_process(COMMAND sh -c "mkdir -p /var/cache/updater && test -w /var/cache/updater"
  RESULT_VARIABLE _cache_result OUTPUT_QUIET ERROR_QUIET)
if(_cache_result EQUAL 0)
  set(_default_cache /var/cache/updater)
endif()
set(UPDATER_SOURCE_CACHE ${_default_cache} CACHE PATH "Where fetched third-party sources are kept")
set(UPDATER_ZLIB_SOURCE_DIR "" CACHE PATH "Unpacked zlib source tree (fetched when empty)")

if(NOT EXISTS "${UPDATER_ZLIB_SOURCE_DIR}/contrib/minizip/unzip.c")
  message(STATUS "Fetching Debian's zlib sources for minizip into ${UPDATER_SOURCE_CACHE}")
  execute_process(
    COMMAND ${PROJECT_SOURCE_DIR}/tools/windows/fetch-debian-source.sh ${UPDATER_SOURCE_CACHE}
      zlib 1:1.2.13.dfsg-1 zlib-1.2.13.dfsg contrib/minizip/unzip.c
    OUTPUT_VARIABLE _zlib_tree OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _fetch_result)
  if(NOT _fetch_result EQUAL 0 OR NOT EXISTS "${_zlib_tree}/contrib/minizip/unzip.c")
    message(FATAL_ERROR "minizip sources could not be fetched (tools/windows/fetch-debian-source.sh)")
  endif()
  set(UPDATER_ZLIB_SOURCE_DIR ${_zlib_tree} CACHE PATH "Unpacked zlib source tree (fetched when empty)" FORCE)
endif()

set(_minizip_dir ${UPDATER_ZLIB_SOURCE_DIR}/contrib/minizip)
# Copy the headers under a minizip/ directory so that includes read
# <minizip/unzip.h> on both systems.
set(_minizip_include ${CMAKE_BINARY_DIR}/_deps/minizip-include)
foreach(_header unzip.h ioapi.h iowin32.h crypt.h)
  configure_file(${_minizip_dir}/${_header} ${_minizip_include}/minizip/${_header} COPYONLY)
endforeach()

set(_minizip_sources ${_minizip_dir}/unzip.c ${_minizip_dir}/ioapi.c)
if(WIN32)
  list(APPEND _minizip_sources ${_minizip_dir}/iowin32.c)
endif()
add_library(updater_minizip STATIC ${_minizip_sources})
target_include_directories(updater_minizip SYSTEM PUBLIC ${_minizip_include}
  PRIVATE ${_minizip_include}/minizip)
target_link_libraries(updater_minizip PUBLIC ZLIB::ZLIB)
# Third-party code: built as it comes, without our warning set.
target_compile_options(updater_minizip PRIVATE -w)
