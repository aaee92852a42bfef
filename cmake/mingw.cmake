# Cross build for Windows with mingw-w64 (posix thread model), for either width:
# the preset passes TWTRIM_MINGW_ARCH, i686 for the 32-bit product or x86_64 for
# the 64-bit build whose tests run under Wine.
if(NOT TWTRIM_MINGW_ARCH MATCHES "^(i686|x86_64)$")
  message(FATAL_ERROR "set TWTRIM_MINGW_ARCH to i686 or x86_64 (the win32 and win64 presets do)")
endif()
# try_compile projects read this file again and need the width too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TWTRIM_MINGW_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TWTRIM_MINGW_ARCH})

set(TWTRIM_MINGW_PREFIX ${TWTRIM_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${TWTRIM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TWTRIM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TWTRIM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TWTRIM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
