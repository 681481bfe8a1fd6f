# Read by cpack for each generator: the .deb installs under /usr; the .zip's bundle is relocatable, its
# paths relative to its own directory.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
else()
    set(CPACK_PACKAGING_INSTALL_PREFIX "/")
endif()
