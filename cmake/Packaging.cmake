# Debian packages from the install components: `cpack -G DEB` in a build tree gives
#   liborvanepack<major.minor>  the shared library (component "library"),
#   liborvanepack-dev           headers, CMake and pkg-config files (component "dev"),
#   orvanepack-tools            the programs (component "programs").
# Dependencies on other packages are computed from the binaries (dpkg-shlibdeps).
set(_abi ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
set(CPACK_PACKAGE_NAME orvanepack)
set(CPACK_PACKAGE_VENDOR "OrvanePack developers")
set(CPACK_PACKAGE_CONTACT "OrvanePack developers <orvanepack@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Update checker, HTTP client, asynchronous socket and wait components")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL library dev programs)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME liborvanepack${_abi})
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION "OrvanePack components (shared library)")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME liborvanepack-dev)
set(CPACK_COMPONENT_DEV_DESCRIPTION "OrvanePack components (headers, CMake and pkg-config files)")
set(CPACK_COMPONENT_DEV_DEPENDS library)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME orvanepack-tools)
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
    "orvane-check, orvane-sign, httpget and the design tool of OrvanePack")
# The design tool loads the library at run time, which dpkg-shlibdeps cannot see.
set(CPACK_COMPONENT_PROGRAMS_DEPENDS library)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION utils)
include(CPack)
