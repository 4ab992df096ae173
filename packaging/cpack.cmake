# `make package`: one Debian package with both programs. Its library
# dependencies are computed from the binaries by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rechannel)
set(CPACK_PACKAGE_VENDOR "rechannel")
# RECHANNEL_MAINTAINER: a cache variable (packaging/CMakeLists.txt).
set(CPACK_PACKAGE_CONTACT "${RECHANNEL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "moves a mesh radio station to channel 1902 over a serial port")
set(CPACK_PACKAGE_DESCRIPTION
    "A station of system 0x9E is re-tuned to channel 1902 with fine offset 2 and\n\
given system code 0x3A. The window (rechannel) and the command line\n\
(rechannel-cli) read the station's parameter block, save it, write the new\n\
channel and restart the station; rechannel-cli also reads the station's\n\
network status, route table and sniffer ring.")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs a Qt platform plugin, which Qt loads at run time and
# dpkg-shlibdeps therefore cannot see.
if(RECHANNEL_BUILD_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion, man-db")
include(CPack)
