# The Debian package of the program, the serving simulator and the command-line companion, with
# the desktop entry and icons: `cpack` in a build tree (scripts/package.sh builds a release tree
# and runs it). dpkg-shlibdeps computes the dependencies from the installed programs.
include(GNUInstallDirs)

set(TOLVAREN_PACKAGE_NAME tolvaren-diagnostics)
set(TOLVAREN_PACKAGE_MAINTAINER "Tolvaren Diagnostics developers <diagnostics@tolvaren.com>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TOLVAREN_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Tolvaren")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TOLVAREN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "diagnostics and calibration of Tolvaren I/O cards")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Tolvaren Diagnostics talks Modbus RTU to Tolvaren I/O cards on a serial\n"
    "port: it shows a card's points live, edits and saves its configuration,\n"
    "draws graphs and downloads its history, and calibrates Input and Output\n"
    "Cards with the calibration board. The package also holds tolvaren-sim,\n"
    "which serves simulated cards on pseudo-terminals, and tolvaren-cli, the\n"
    "command-line companion.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Metric-compatible stand-ins for the fonts the windows are laid out with.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-liberation)
# Directories 0755 whatever the builder's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The copyright notice and a Debian changelog, where Debian tools look for them.
set(doc_dir ${CMAKE_BINARY_DIR}/package-doc)
file(MAKE_DIRECTORY ${doc_dir})
file(WRITE ${doc_dir}/copyright
     "Tolvaren Diagnostics\n\nCopyright (C) 2026 Tolvaren. All rights reserved.\n")
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${doc_dir}/changelog.Debian
     "${TOLVAREN_PACKAGE_NAME} (${PROJECT_VERSION}-1) unstable; urgency=medium\n\n"
     "  * Release ${PROJECT_VERSION}.\n\n"
     " -- ${TOLVAREN_PACKAGE_MAINTAINER}  ${changelog_date}\n")
execute_process(COMMAND gzip -9nf ${doc_dir}/changelog.Debian)
install(FILES ${doc_dir}/copyright ${doc_dir}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TOLVAREN_PACKAGE_NAME})

include(CPack)
