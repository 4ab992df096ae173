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

# make windows-package: the portable ZIP and the NSIS installer, both with
# the programs and the DLLs in bin/ (as in the build), README and LICENSE.
install(FILES ${rc_runtime_dlls} DESTINATION bin)
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION bin/platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION bin/styles)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME rechannel)
set(CPACK_PACKAGE_VENDOR "rechannel developers")
set(CPACK_PACKAGE_FILE_NAME rechannel-${PROJECT_VERSION}-win64)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGE_INSTALL_DIRECTORY rechannel)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# The Start-menu entry carries the window's own Russian name.
set(CPACK_PACKAGE_EXECUTABLES rechannel "Утилита изменения частотного канала РЛ ЗАО")
# A 64-bit installer (Debian's makensis has the amd64-unicode stubs) that
# installs under the 64-bit Program Files.
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DEFINES "Unicode true\nTarget amd64-unicode")
set(CPACK_NSIS_PACKAGE_NAME "rechannel ${PROJECT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "rechannel ${PROJECT_VERSION}")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/windows-cpack-names.cmake)
include(CPack)
