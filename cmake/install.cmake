# The Linux program laid out as Linux tools are, and its Debian package:
#   bin/zantrel, share/zantrel/convert.xsl, share/man/man1/zantrel.1.gz,
#   share/doc/zantrel/{README.md,changelog.gz,copyright}.
# The program finds the style sheet beside itself first, then in
# ../share/zantrel/ (src/app/locations_posix.cpp), so both a build folder and
# an installation work.
include(GNUInstallDirs)

install(TARGETS zantrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/convert.xsl DESTINATION ${CMAKE_INSTALL_DATADIR}/zantrel)

# Manual pages are installed compressed; -n keeps the bytes the same from build to build.
set(zantrel_man ${CMAKE_BINARY_DIR}/zantrel.1.gz)
add_custom_command(OUTPUT ${zantrel_man}
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/res/zantrel.1 > ${zantrel_man}
  DEPENDS ${PROJECT_SOURCE_DIR}/res/zantrel.1
  VERBATIM)
add_custom_target(zantrel_man ALL DEPENDS ${zantrel_man})
install(FILES ${zantrel_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The change log, in Debian's format, compressed as Debian keeps it: the package
# check reads it as the package's own history.
set(zantrel_changelog ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${zantrel_changelog}
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/CHANGELOG > ${zantrel_changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG
  VERBATIM)
add_custom_target(zantrel_changelog ALL DEPENDS ${zantrel_changelog})

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${zantrel_changelog}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zantrel)
# Debian looks for the licence under this name.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zantrel RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zantrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The project's own address, the one its commits and CHANGELOG are signed with.
# Trap: the package check refuses a host that is not a domain (localhost); the
# reserved .invalid domain passes and can never deliver to a stranger.
set(CPACK_PACKAGE_CONTACT "Zantrel developers <dev@zantrel.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The package holds the program stripped; the build folder keeps it whole.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The extended description; CPack puts the summary line before it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "zantrel takes the first comment file as the base, appends the chat elements
of the others, drops every comment whose number occurred earlier, applies the
style sheet convert.xsl, writes the number of the last comment into last_res
and saves the result under a name built from a pattern. Saving is all or
nothing; hostile files are refused.")
# The run-time libraries (libxml2, libxslt, libstdc++, libc) as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
