# Install components:
#   plugin         OBS's per-user layout: install with --prefix ~/.config/obs-studio/plugins/kestrel
#   system-plugin  the layout of the OBS this is built against: install with that OBS's prefix
#                  (--prefix /usr for a distribution's OBS)
#   bin            the kestrel-backup command line: --prefix ~/.local or /usr
# The Debian package (cpack -G DEB, scripts/package.sh) holds system-plugin and bin.

install(TARGETS kestrel LIBRARY DESTINATION bin/64bit COMPONENT plugin)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ DESTINATION data COMPONENT plugin)

install(TARGETS kestrel LIBRARY DESTINATION ${KESTREL_SYSTEM_PLUGIN_DIR} COMPONENT system-plugin)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ DESTINATION ${KESTREL_SYSTEM_DATA_DIR} COMPONENT system-plugin)

install(TARGETS kestrel-backup RUNTIME DESTINATION bin COMPONENT bin)
