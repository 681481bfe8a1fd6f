# The release artifacts: a relocatable bundle directory packed into a .zip (what the application's own
# update downloads and unpacks), and a .deb installing under /usr for Debian's package manager.
#   cmake --build build --target tarnwick-app tarnwick tarnwick-helper && (cd build && cpack)
# Installing and packing need only the three executables, not the tests and benchmarks of "all".
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The bundle's version file; the build tree carries one too, so that it is a bundle itself.
set(TARNWICK_BUILD_NUMBER 0 CACHE STRING "Build number of the alpha channel, carried in the bundle")
configure_file(${PROJECT_SOURCE_DIR}/resources/Info.ini.in ${PROJECT_BINARY_DIR}/share/tarnwick/Info.ini @ONLY)

install(TARGETS tarnwick-app tarnwick tarnwick-helper RUNTIME DESTINATION bin)
install(FILES ${PROJECT_BINARY_DIR}/share/tarnwick/Info.ini DESTINATION share/tarnwick)
install(FILES ${PROJECT_SOURCE_DIR}/resources/tarnwick.desktop DESTINATION share/applications)
# For the .deb (it names /usr/bin); a bundle's helper unit is written by the application when it registers.
install(FILES ${PROJECT_SOURCE_DIR}/resources/app.tarnwick.helper.service DESTINATION lib/systemd/user)

# The tool's own shell completions and manual page (written when it is built, see apps/).
set(tarnwick_generated ${PROJECT_BINARY_DIR}/share/tarnwick/generated)
install(FILES ${tarnwick_generated}/tarnwick.bash DESTINATION share/bash-completion/completions RENAME tarnwick)
install(FILES ${tarnwick_generated}/_tarnwick DESTINATION share/zsh/vendor-completions)
install(FILES ${tarnwick_generated}/tarnwick.fish DESTINATION share/fish/vendor_completions.d)
install(FILES ${tarnwick_generated}/tarnwick.1 DESTINATION share/man/man1)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(tarnwick_arch arm64)
else()
    set(tarnwick_arch amd64)
endif()

set(CPACK_PACKAGE_NAME "tarnwick")
set(CPACK_PACKAGE_VENDOR "Tarnwick")
set(CPACK_PACKAGE_CONTACT "Tarnwick developers <tarnwick@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tray application that drives the Mihomo proxy kernel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME "Tarnwick-${PROJECT_VERSION}-linux-${tarnwick_arch}")
set(CPACK_GENERATOR "ZIP;DEB")
set(CPACK_STRIP_FILES ON)
# The .zip holds one directory, the bundle.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/PackagingPerGenerator.cmake)

set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${tarnwick_arch})
set(CPACK_DEBIAN_FILE_NAME "tarnwick_${PROJECT_VERSION}_${tarnwick_arch}.deb")
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_LICENSE "GPL-3.0-or-later")
# The libraries the executables link, as Debian packages them (Qt, QCoro, libmaxminddb, …), found by
# dpkg-shlibdeps; SQLite for the flow database, and the tools kernel and application updates run.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsqlite3-0, gzip, unzip")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "systemd")

include(CPack)
