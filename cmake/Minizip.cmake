# minizip, compiled from Debian's zlib source package on every system. Debian's
# libminizip 1.1 reads no Zip64 field on 64-bit Linux (it compares each with
# (unsigned long)-1, which is 2^64 - 1 there), so sizes and offsets past
# 4 GiB stayed at 0xFFFFFFFF; zlib's own copy compares with 0xFFFFFFFF.
if(NOT TARGET updater_minizip)
  include(${CMAKE_CURRENT_LIST_DIR}/MinizipFromSource.cmake)
endif()
