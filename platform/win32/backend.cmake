enable_language(RC)

# Every Win32 call takes UTF-16 (the W functions); windows.h keeps its min/max to itself.
set(SORELCHECK_WIN32_DEFINITIONS UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN
    _WIN32_WINNT=0x0601)

target_sources(sorelcore PRIVATE platform/win32/text.cpp platform/win32/win32_errors.cpp)
target_compile_definitions(sorelcore PRIVATE ${SORELCHECK_WIN32_DEFINITIONS})

add_executable(SorelCheck WIN32
  app/main.cpp
  platform/win32/live_region.cpp
  platform/win32/main_window.cpp
  platform/win32/win32_platform.cpp
  platform/win32/resources.rc)
target_compile_definitions(SorelCheck PRIVATE ${SORELCHECK_WIN32_DEFINITIONS})
# The resource script names its files from the project root.
target_include_directories(SorelCheck PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
set_property(SOURCE platform/win32/resources.rc APPEND PROPERTY OBJECT_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/assets/icon/sorelcheck.ico
  ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32/sorelcheck.manifest)
# No winmm: the sound call is loaded from the system folder at run time. ole32 is a known DLL.
target_link_libraries(SorelCheck PRIVATE sorelcore comctl32 ole32)
target_link_options(SorelCheck PRIVATE $<$<CONFIG:Release>:-s>)

# The samples sit next to the executable, where the program looks for them.
foreach(sample IN LISTS SORELCHECK_SAMPLES)
  get_filename_component(name ${sample} NAME)
  configure_file(${sample} ${CMAKE_CURRENT_BINARY_DIR}/${name} COPYONLY)
endforeach()

install(TARGETS SorelCheck DESTINATION .)
install(FILES ${SORELCHECK_SAMPLES} DESTINATION .)
