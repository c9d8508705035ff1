# Install components:
#   plugin         OBS's per-user layout: install with --prefix ~/.config/obs-studio/plugins/kestrel
#   system-plugin  the layout of the OBS this is built against: install with that OBS's prefix
#                  (--prefix /usr for a distribution's OBS)
#   bin            the kestrel-backup command line: --prefix ~/.local or /usr
# An install without --component is system-plugin and bin; the per-user layout is asked for by
# name, so it never lands below a system prefix. The Debian package (scripts/package.sh) holds
# system-plugin and bin.

install(TARGETS kestrel LIBRARY DESTINATION bin/64bit COMPONENT plugin EXCLUDE_FROM_ALL)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ DESTINATION data COMPONENT plugin EXCLUDE_FROM_ALL)

install(TARGETS kestrel LIBRARY DESTINATION ${KESTREL_SYSTEM_PLUGIN_DIR} COMPONENT system-plugin)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ DESTINATION ${KESTREL_SYSTEM_DATA_DIR} COMPONENT system-plugin)

install(TARGETS kestrel-backup RUNTIME DESTINATION bin COMPONENT bin)
