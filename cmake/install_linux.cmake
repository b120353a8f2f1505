# Install layout and Debian package of the Linux program. Any prefix gives the package's
# layout: the program and its samples in a private folder under libexec (not the multiarch
# library folder GNUInstallDirs gives /usr), the command in bin, desktop entry, AppStream
# metadata, icons, manual page and documentation under share.
include(GNUInstallDirs)

# The package's version is the program's own, from its version record.
file(STRINGS ${PROJECT_SOURCE_DIR}/platform/win32/resources.rc SORELCHECK_VERSION_LINE
     REGEX "VALUE \"ProductVersion\"")
if(NOT SORELCHECK_VERSION_LINE MATCHES "\"ProductVersion\", \"([0-9.]+)\"")
  message(FATAL_ERROR "No ProductVersion in platform/win32/resources.rc")
endif()
set(SORELCHECK_VERSION ${CMAKE_MATCH_1})

set(SORELCHECK_APP_ID example.c_seed_022afa2c.sorelcheck)
set(SORELCHECK_PROGRAM_DIR ${CMAKE_INSTALL_LIBEXECDIR}/sorelcheck)
set(SORELCHECK_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/sorelcheck)

# Debian wants manual pages and changelogs compressed, reproducibly (no name, no time stamp).
set(SORELCHECK_COMPRESSED)
foreach(source IN ITEMS SorelCheck.1 changelog)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/packaging/${source}.gz)
  add_custom_command(
    OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/${source} > ${compressed}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/${source}
    VERBATIM)
  list(APPEND SORELCHECK_COMPRESSED ${compressed})
endforeach()
add_custom_target(sorelcheck_docs DEPENDS ${SORELCHECK_COMPRESSED})
# Built with the program, so that installing after building only the program works.
add_dependencies(SorelCheck sorelcheck_docs)

install(TARGETS SorelCheck DESTINATION ${SORELCHECK_PROGRAM_DIR})
install(FILES ${SORELCHECK_SAMPLES} DESTINATION ${SORELCHECK_PROGRAM_DIR})
# A relative link, so that the tree can be moved or staged.
file(RELATIVE_PATH SORELCHECK_LINK_TARGET /prefix/${CMAKE_INSTALL_BINDIR}
     /prefix/${SORELCHECK_PROGRAM_DIR}/SorelCheck)
install(CODE "
  set(bin_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  message(STATUS \"Installing: \${bin_dir}/SorelCheck -> ${SORELCHECK_LINK_TARGET}\")
  file(MAKE_DIRECTORY \"\${bin_dir}\")
  file(CREATE_LINK ${SORELCHECK_LINK_TARGET} \"\${bin_dir}/SorelCheck\" SYMBOLIC)")

install(FILES ${PROJECT_SOURCE_DIR}/assets/sorelcheck.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/${SORELCHECK_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
foreach(size 16 24 32 48)
  install(FILES ${PROJECT_SOURCE_DIR}/assets/icon/sorelcheck-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
          RENAME sorelcheck.png)
endforeach()
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/SorelCheck.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
              ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${SORELCHECK_DOC_DIR})

# The Debian package (scripts/build_deb.sh builds it).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sorelcheck)
set(CPACK_PACKAGE_VERSION ${SORELCHECK_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/strip_package.cmake)
set(CPACK_PACKAGE_CONTACT "Seed 022afa2c maintainers <maintainers@users.noreply.c-seed-022afa2c.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "hear whether this computer is quick enough for a speech voice")
set(CPACK_PACKAGE_DESCRIPTION
    "SorelCheck times the creation of a 700 MiB test file. Then each press of the
Down or Up arrow key replays a recorded pattern of scattered reads from it and
plays a short voice sample: the smaller the delay between the first and the
second time a sample is chosen, the faster the computer. It is used by keyboard
alone and works with a screen reader; its texts are in Japanese.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: a Gothic face whose five welcome
# lines fit at 12 points (the X11 platform plugin ships in libqt6gui6, which it does see).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic | fonts-vlgothic")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
