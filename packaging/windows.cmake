if(NOT TARGET Qt6::Widgets)
  message(FATAL_ERROR "The Windows build ships the window: leave RECHANNEL_BUILD_GUI on")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/windows-resources.cmake)

# The programs, each with its file description and, for a window, its
# Start-menu entry. The fleet window joins when its target is built.
set(rc_programs rechannel rechannel-cli)
set(rc_description_rechannel "Утилита изменения частотного канала РЛ ЗАО")
set(rc_menu_rechannel "Утилита изменения частотного канала РЛ ЗАО")
set(rc_description_rechannel-cli "rechannel-cli: перевод станций из командной строки")
if(TARGET rechannel-fleet)
  list(APPEND rc_programs rechannel-fleet)
  set(rc_description_rechannel-fleet "Перевод парка станций")
  set(rc_menu_rechannel-fleet "Перевод парка станций")
  install(TARGETS rechannel-fleet RUNTIME DESTINATION bin)
endif()
set(rc_menu_entries)
foreach(program IN LISTS rc_programs)
  rechannel_windows_resources(${program} "${rc_description_${program}}")
  if(DEFINED rc_menu_${program})
    list(APPEND rc_menu_entries ${program} "${rc_menu_${program}}")
  endif()
endforeach()

# The Windows programs run from <build>/bin with everything they load beside
# them, as the portable ZIP and the installer ship them: the Qt DLLs, the
# platform plugin (no window opens without it), the style plugin and
# mingw-w64's C++ runtime. qt.conf makes Qt look for its plugins there only,
# whatever QT_PLUGIN_PATH another Qt program on the machine has set.
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
set(rc_qt_conf ${CMAKE_CURRENT_LIST_DIR}/qt.conf)
add_custom_target(rc_windows_runtime ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${rc_bin}/platforms ${rc_bin}/styles
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${rc_runtime_dlls} ${rc_qt_conf} ${rc_bin}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> ${rc_bin}/platforms
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> ${rc_bin}/styles
  COMMENT "Copying the Qt and mingw-w64 runtime DLLs and qt.conf beside the programs"
  VERBATIM)

# make windows-package: the portable ZIP and the NSIS installer, both with
# the programs, the DLLs and qt.conf in bin/ (as in the build), README with
# the pages of docs/ it links to, and LICENSE.
install(FILES ${rc_runtime_dlls} ${rc_qt_conf} DESTINATION bin)
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION bin/platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION bin/styles)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION docs FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME rechannel)
set(CPACK_PACKAGE_VENDOR "rechannel developers")
set(CPACK_PACKAGE_FILE_NAME rechannel-${PROJECT_VERSION}-win64)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGE_INSTALL_DIRECTORY rechannel)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# The Start-menu entries carry the windows' own Russian names, in the folder
# "rechannel" (no version: an upgrade keeps the one folder).
set(CPACK_PACKAGE_EXECUTABLES ${rc_menu_entries})
# Our own NSIS script (packaging/NSIS.template.in): for me only or for all
# users (NSIS MultiUser), Russian pages, an upgrade that replaces the older
# version, and the PATH option.
set(CPACK_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
# Where the script finds its included functions (rechannel-setup.nsh).
set(CPACK_RECHANNEL_NSIS_DIR ${CMAKE_CURRENT_LIST_DIR})
set(CPACK_NSIS_PACKAGE_NAME "rechannel")
set(CPACK_NSIS_DISPLAY_NAME "rechannel")
set(CPACK_NSIS_MUI_ICON ${CMAKE_CURRENT_LIST_DIR}/rechannel.ico)
set(CPACK_NSIS_MUI_UNIICON ${CMAKE_CURRENT_LIST_DIR}/rechannel.ico)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/windows-cpack-names.cmake)
include(CPack)
