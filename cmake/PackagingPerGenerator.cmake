# Read by cpack for each generator: the .deb installs under /usr; the .zip's bundle is relocatable, its
# paths relative to its own directory.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
else()
    set(CPACK_PACKAGING_INSTALL_PREFIX "/")
    # The systemd unit names /usr/bin; a bundle's helper is registered by the application itself.
    set(CPACK_COMPONENTS_ALL Unspecified)
    set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
endif()
