# Linux implementations of the platform interfaces, the Qt renderer and the executable.
set(CMAKE_AUTOMOC ON)
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets DBus)
pkg_check_modules(VURIN_LINUX_DEPS REQUIRED IMPORTED_TARGET x11 xtst libcanberra libsecret-1 libpulse
    gio-2.0 atspi-2 xcb xres libevdev)

file(GLOB VURIN_PLATFORM_LINUX_SOURCES CONFIGURE_DEPENDS src/platform/linux/*.cpp)
list(FILTER VURIN_PLATFORM_LINUX_SOURCES EXCLUDE REGEX "/evdev_key_reader\\.cpp$")
add_library(vurin_platform_linux STATIC ${VURIN_PLATFORM_LINUX_SOURCES})
target_link_libraries(vurin_platform_linux PUBLIC vurin_logic vurin_platform_evdev
    PkgConfig::VURIN_LINUX_DEPS)

file(GLOB VURIN_UI_QT_SOURCES CONFIGURE_DEPENDS src/ui/qt/*.cpp src/ui/qt/*.h)
add_library(vurin_ui_qt STATIC ${VURIN_UI_QT_SOURCES})
target_compile_definitions(vurin_ui_qt PUBLIC QT_NO_KEYWORDS)
target_link_libraries(vurin_ui_qt PUBLIC vurin_logic Qt6::Widgets Qt6::DBus PkgConfig::VURIN_LINUX_DEPS)

add_executable(vurin src/main.cpp)
target_link_libraries(vurin PRIVATE vurin_ui_qt vurin_platform_linux)
