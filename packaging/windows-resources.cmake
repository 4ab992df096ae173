# rechannel_windows_resources(<target> <description>): compiles the
# programs' icon (packaging/rechannel.ico, made from the window's icon by
# packaging/make-ico.py) and a version resource (product rechannel, the
# project's version, <description> as the file's description) into the
# Windows executable <target>, once (windows.cmake calls it for every
# program it ships; a program's own CMakeLists may call it first). Nothing on
# other systems.
include_guard(GLOBAL)
if(WIN32)
  enable_language(RC)
endif()

function(rechannel_windows_resources target description)
  get_property(done TARGET ${target} PROPERTY RECHANNEL_WINDOWS_RESOURCES)
  if(NOT WIN32 OR done)
    return()
  endif()
  set_property(TARGET ${target} PROPERTY RECHANNEL_WINDOWS_RESOURCES ON)
  set(RC_TARGET ${target})
  set(RC_DESCRIPTION "${description}")
  set(RC_COMPANY "rechannel developers")
  set(RC_ICON ${PROJECT_SOURCE_DIR}/packaging/rechannel.ico)
  set(rc_file ${CMAKE_BINARY_DIR}/resources/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows-resources.rc.in ${rc_file} @ONLY)
  target_sources(${target} PRIVATE ${rc_file})
  set_property(SOURCE ${rc_file} TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS ${RC_ICON})
endfunction()
