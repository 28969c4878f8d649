# The Debian package, made by CPack from this build (scripts/build_deb.sh runs
# `cpack -G DEB`): the service folder /opt/quillaro (components "service" and
# "deb" of install.cmake), the unit in /lib/systemd/system, and maintainer
# scripts (packaging/deb/) that make the system user quillaro and enable and
# start the unit. Runtime libraries are found by dpkg-shlibdeps from the
# binaries themselves.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillaro)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Quillaro developers <dev@quillaro.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unattended print-job converter")
set(CPACK_PACKAGE_DESCRIPTION
    "Counts, sizes, renders and watermarks print jobs (PCL 5, PCL XL, PostScript, PDF, XPS)\ndropped into /opt/quillaro/in, with Ghostscript, GhostPCL and GhostXPS run confined,\nas the system user quillaro under a sandboxed systemd unit.")
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/quillaro)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # quillaro_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# gs is Debian's; the postinst needs adduser and (where systemd runs) the
# systemd helpers.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ghostscript, adduser, init-system-helpers")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/deb/postinst ${PROJECT_SOURCE_DIR}/packaging/deb/prerm
    ${PROJECT_SOURCE_DIR}/packaging/deb/postrm ${PROJECT_SOURCE_DIR}/packaging/deb/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# One package from the two components; the developers' links ("folder") stay out.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL service deb)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/deb)
include(CPack)
