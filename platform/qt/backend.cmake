find_package(Qt6 REQUIRED COMPONENTS Widgets)
find_package(PkgConfig REQUIRED)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)

qt_add_resources(SORELCHECK_QT_RESOURCES platform/qt/resources.qrc)
add_executable(SorelCheck
  app/main.cpp
  platform/exit_cleanup.cpp
  platform/qt/main_window.cpp
  platform/qt/program.cpp
  platform/qt/qt_platform.cpp
  platform/qt/screen_reader.cpp
  platform/qt/sound_player.cpp
  platform/qt/termination_signals.cpp
  ${SORELCHECK_QT_RESOURCES})
target_link_libraries(SorelCheck PRIVATE sorelcore Qt6::Widgets PkgConfig::PULSE)

# The samples sit next to the executable, where the program looks for them.
foreach(sample IN LISTS SORELCHECK_SAMPLES)
  get_filename_component(name ${sample} NAME)
  configure_file(${sample} ${CMAKE_CURRENT_BINARY_DIR}/${name} COPYONLY)
endforeach()

include(GNUInstallDirs)
set(SORELCHECK_LIBEXEC ${CMAKE_INSTALL_LIBDIR}/sorelcheck)
install(TARGETS SorelCheck DESTINATION ${SORELCHECK_LIBEXEC})
install(FILES ${SORELCHECK_SAMPLES} DESTINATION ${SORELCHECK_LIBEXEC})
install(CODE "
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  file(CREATE_LINK ../${SORELCHECK_LIBEXEC}/SorelCheck
       \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/SorelCheck\" SYMBOLIC)")
install(FILES assets/sorelcheck.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 24 32 48)
  install(FILES assets/icon/sorelcheck-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME sorelcheck.png)
endforeach()
