# giflib for the Windows build: Debian's source package, unpacked into the build tree by
# scripts/fetch-giflib-source.sh at configure time and compiled here as a static library.
# Provides GIF::GIF like find_package(GIF) does on Linux.
set(VORMEL_GIFLIB_DIR ${CMAKE_BINARY_DIR}/_deps/giflib CACHE PATH
  "Where Debian's giflib source package is unpacked")
set(giflib_source ${VORMEL_GIFLIB_DIR}/source)
if(NOT EXISTS ${giflib_source}/gif_lib.h)
  message(STATUS "Fetching Debian's giflib source package into ${VORMEL_GIFLIB_DIR}")
  execute_process(
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/fetch-giflib-source.sh ${VORMEL_GIFLIB_DIR}
    RESULT_VARIABLE fetch_result)
  if(NOT fetch_result EQUAL 0 OR NOT EXISTS ${giflib_source}/gif_lib.h)
    message(FATAL_ERROR "Could not get Debian's giflib source (scripts/fetch-giflib-source.sh)")
  endif()
endif()

# The library's members as giflib's own Makefile lists them; the rest are its utilities.
set(giflib_members dgif_lib.c egif_lib.c gifalloc.c gif_err.c gif_font.c gif_hash.c
  openbsd-reallocarray.c quantize.c)
list(TRANSFORM giflib_members PREPEND ${giflib_source}/)
add_library(vormel_giflib STATIC ${giflib_members})
target_include_directories(vormel_giflib SYSTEM PUBLIC ${giflib_source})
# Third-party code: built as its authors ship it, without our warning policy.
target_compile_options(vormel_giflib PRIVATE -w)
add_library(GIF::GIF ALIAS vormel_giflib)
