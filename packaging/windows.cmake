if(NOT TARGET Qt6::Widgets)
  message(FATAL_ERROR "The Windows build ships the window: leave RECHANNEL_BUILD_GUI on")
endif()
# The Windows programs run from <build>/bin with everything they load beside
# them, as the portable ZIP and the installer ship them: the Qt DLLs, the
# platform plugin (no window opens without it), the style plugin and
# mingw-w64's C++ runtime.
set(rc_bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
set(rc_runtime_dlls $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE rc_dll OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${rc_dll}" OR NOT EXISTS "${rc_dll}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${dll} is: install Debian's mingw-w64 "
                        "(scripts/install-deps windows)")
  endif()
  get_filename_component(rc_dll "${rc_dll}" REALPATH)
  list(APPEND rc_runtime_dlls ${rc_dll})
endforeach()
add_custom_target(rc_windows_runtime ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${rc_bin}/platforms ${rc_bin}/styles
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${rc_runtime_dlls} ${rc_bin}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> ${rc_bin}/platforms
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> ${rc_bin}/styles
  COMMENT "Copying the Qt and mingw-w64 runtime DLLs beside the programs"
  VERBATIM)
