# The Debian package: the plug-in in the system layout and kestrel-backup, with Depends computed
# by dpkg-shlibdeps from the libraries both link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel-obs)
set(CPACK_PACKAGE_VENDOR "Kestrel")
set(CPACK_PACKAGE_CONTACT "${KESTREL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "OBS Studio plug-in: backup/restore of scenes, profiles and media; per-source delay filters")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrel backs up OBS scene collections, profiles and media into a synced folder and restores\n\
them on the same or another computer (Tools > Cloud Backup / Restore, or kestrel-backup on the\n\
command line). It adds delay filters for video, audio, ducking, push-to-delay microphone and\n\
camera, a Delay Playback source, and a dock that switches every delay off and on.")
set(CPACK_PACKAGING_INSTALL_PREFIX "${KESTREL_OBS_PREFIX}")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL system-plugin bin)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_ENHANCES obs-studio)
if(KESTREL_PROJECT_PAGE_BASE)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${KESTREL_PROJECT_PAGE_BASE}")
endif()
include(CPack)
