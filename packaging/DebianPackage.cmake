# The Debian package: `cpack -G DEB` (or scripts/package) packs exactly what `cmake --install`
# installs, under /usr. Runtime libraries are computed by dpkg-shlibdeps from the binaries; the
# hand-listed dependencies are what no binary links: pkexec, run for the install scripts, and Qt's
# platform plugins, loaded at run time.
set(TARNWICK_PACKAGE_MAINTAINER "tarnwick maintainers <maintainers@tarnwick.invalid>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT ${TARNWICK_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fan and temperature utility for Mac hardware")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "A tray application shows the temperatures of the chip, the SSD, the battery\n"
    "and the other sensors of a Mac running Linux, and the speed of each fan.\n"
    "Its optional fan-control daemon, installed from the application with an\n"
    "administrator's password, makes the fans spin faster than the firmware would\n"
    "when the chip gets hot, keeps the battery cool or holds a fixed speed.")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec | policykit-1, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "systemd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(debian_dir ${CMAKE_CURRENT_BINARY_DIR}/debian)
set(TARNWICK_LIBEXEC_INSTALL_DIR
    ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/tarnwick)
foreach(script prerm postinst postrm)
    configure_file(debian/${script} ${debian_dir}/${script} @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${debian_dir}/prerm ${debian_dir}/postinst ${debian_dir}/postrm)

# A package built from this tree carries its own version's changelog entry (the package is
# native: the tree is its own upstream).
string(TIMESTAMP TARNWICK_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(debian/changelog.in ${debian_dir}/changelog @ONLY)
add_custom_command(
    OUTPUT ${debian_dir}/changelog.gz
    COMMAND gzip -9nkf ${debian_dir}/changelog
    DEPENDS ${debian_dir}/changelog
    VERBATIM)
add_custom_target(package-changelog ALL DEPENDS ${debian_dir}/changelog.gz)
install(FILES ${debian_dir}/changelog.gz debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(CPack)
