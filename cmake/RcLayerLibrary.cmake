# rc_layer_library(<name> [AUTOMOC]
#                  SOURCES <what every platform builds: sources and headers>
#                  [WINDOWS <sources for Windows>]
#                  [POSIX <sources for every other system>]
#                  [LINUX <sources for Linux alone>]
#                  [WINDOWS_LIBS <libraries>] [POSIX_LIBS <libraries>])
#
# One layer's static library: its common sources and its platform's (each
# platform interface is one header with a file per platform, named for where
# it runs: _win32, _posix, _linux), its folder as the public include
# directory, warnings as errors. The platform libraries are private.
function(rc_layer_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "AUTOMOC" "" "SOURCES;WINDOWS;POSIX;LINUX;WINDOWS_LIBS;POSIX_LIBS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "rc_layer_library(${name}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  set(sources ${arg_SOURCES})
  if(WIN32)
    list(APPEND sources ${arg_WINDOWS})
    set(libs ${arg_WINDOWS_LIBS})
  else()
    list(APPEND sources ${arg_POSIX})
    set(libs ${arg_POSIX_LIBS})
    if(arg_LINUX AND NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
      message(FATAL_ERROR "rc_layer_library(${name}): ${arg_LINUX} run on Linux alone; "
                          "${CMAKE_SYSTEM_NAME} has no counterpart yet")
    endif()
    list(APPEND sources ${arg_LINUX})
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${libs} rc_warnings)
  if(arg_AUTOMOC)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  endif()
endfunction()
