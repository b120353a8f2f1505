find_package(Qt6 REQUIRED COMPONENTS Widgets)
find_package(PkgConfig REQUIRED)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)

qt_add_resources(SORELCHECK_QT_RESOURCES platform/qt/resources.qrc)
add_executable(SorelCheck
  app/main.cpp
  platform/qt/main_window.cpp
  platform/qt/message_box.cpp
  platform/qt/qt_platform.cpp
  platform/qt/screen_reader.cpp
  platform/qt/sound_player.cpp
  platform/qt/termination_signals.cpp
  platform/qt/welcome_font.cpp
  ${SORELCHECK_QT_RESOURCES})
target_link_libraries(SorelCheck PRIVATE sorelcore Qt6::Widgets PkgConfig::PULSE)

# The samples sit next to the executable, where the program looks for them.
foreach(sample IN LISTS SORELCHECK_SAMPLES)
  get_filename_component(name ${sample} NAME)
  configure_file(${sample} ${CMAKE_CURRENT_BINARY_DIR}/${name} COPYONLY)
endforeach()

include(${PROJECT_SOURCE_DIR}/cmake/install_linux.cmake)
