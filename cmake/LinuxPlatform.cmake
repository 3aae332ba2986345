# Linux implementations of the platform interfaces, the Qt renderer and the executable.
set(CMAKE_AUTOMOC ON)
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets DBus)
# What does not depend on the display server: sound, secrets, the session bus, AT-SPI, evdev.
pkg_check_modules(VURIN_LINUX_DEPS REQUIRED IMPORTED_TARGET libcanberra libsecret-1 libpulse
    gio-2.0 atspi-2 libevdev xkbcommon)
file(GLOB VURIN_PLATFORM_LINUX_SOURCES CONFIGURE_DEPENDS src/platform/linux/*.cpp)
list(FILTER VURIN_PLATFORM_LINUX_SOURCES EXCLUDE
    REGEX "/(evdev_key_reader|uinput_keystrokes|held_modifiers|own_input_devices|evdev_keyboard_watch|trigger_command)\\.cpp$")
add_library(vurin_platform_linux STATIC ${VURIN_PLATFORM_LINUX_SOURCES})
target_link_libraries(vurin_platform_linux PUBLIC vurin_logic vurin_platform_evdev
    PkgConfig::VURIN_LINUX_DEPS)

# An X11 session: key grab, XTest keystrokes, the active window, selection owners.
pkg_check_modules(VURIN_X11_DEPS REQUIRED IMPORTED_TARGET x11 xtst xcb xres)
file(GLOB VURIN_PLATFORM_X11_SOURCES CONFIGURE_DEPENDS src/platform/x11/*.cpp)
add_library(vurin_platform_x11 STATIC ${VURIN_PLATFORM_X11_SOURCES})
target_link_libraries(vurin_platform_x11 PUBLIC vurin_platform_linux PkgConfig::VURIN_X11_DEPS)

# A Wayland session: the compositor's globals, focus from AT-SPI alone.
pkg_check_modules(VURIN_WAYLAND_DEPS REQUIRED IMPORTED_TARGET wayland-client)
include(cmake/WaylandProtocols.cmake)
file(GLOB VURIN_PLATFORM_WAYLAND_SOURCES CONFIGURE_DEPENDS src/platform/wayland/*.cpp)
add_library(vurin_platform_wayland STATIC ${VURIN_PLATFORM_WAYLAND_SOURCES})
target_link_libraries(vurin_platform_wayland PUBLIC vurin_platform_linux
    vurin_wayland_protocols PkgConfig::VURIN_WAYLAND_DEPS)

# Every platform the executable can choose from at start.
add_library(vurin_platform INTERFACE)
target_link_libraries(vurin_platform INTERFACE vurin_platform_x11 vurin_platform_wayland
    vurin_platform_linux)

file(GLOB VURIN_UI_QT_SOURCES CONFIGURE_DEPENDS src/ui/qt/*.cpp src/ui/qt/*.h)
add_library(vurin_ui_qt STATIC ${VURIN_UI_QT_SOURCES})
target_compile_definitions(vurin_ui_qt PUBLIC QT_NO_KEYWORDS)
# Qt's platform integration hands out the Wayland connection and a window's surface, for raising
# a window with a launcher's activation token (Qt 6.4 takes no token itself).
target_link_libraries(vurin_ui_qt PUBLIC vurin_logic Qt6::Widgets Qt6::DBus Qt6::GuiPrivate
    vurin_platform_wayland PkgConfig::VURIN_LINUX_DEPS PkgConfig::VURIN_X11_DEPS)
# The icons as installed, built in for a Vurin that is not (the hicolor theme comes first).
file(GLOB VURIN_STATUS_ICONS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/icons/*.svg)
qt_add_resources(vurin_ui_qt vurin_status_icons PREFIX /icons BASE data/icons
    FILES ${VURIN_STATUS_ICONS})
qt_add_resources(vurin_ui_qt vurin_application_icon PREFIX /icons BASE data
    FILES data/com.vurin.app.svg)

# `vurin --trigger` needs nothing but libdbus: both programs answer it.
pkg_check_modules(VURIN_DBUS REQUIRED IMPORTED_TARGET dbus-1)
add_library(vurin_trigger_command STATIC src/platform/linux/trigger_command.cpp)
target_include_directories(vurin_trigger_command PUBLIC src)
target_link_libraries(vurin_trigger_command PUBLIC PkgConfig::VURIN_DBUS)

# The application: main.cpp and the two session assemblies it chooses from.
file(GLOB VURIN_WIRING_SOURCES CONFIGURE_DEPENDS src/wiring/*.cpp)
add_executable(vurin_app src/main.cpp ${VURIN_WIRING_SOURCES})
set_target_properties(vurin_app PROPERTIES OUTPUT_NAME vurin-app)
target_link_libraries(vurin_app PRIVATE vurin_ui_qt vurin_platform vurin_trigger_command)

# The `vurin` command: answers --trigger itself, else starts the application beside it.
include(GNUInstallDirs)
add_executable(vurin src/launcher.cpp src/support/executable.cpp
               src/launcher/launcher_command_line.cpp)
target_include_directories(vurin PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_compile_definitions(vurin PRIVATE
    VURIN_APPLICATION_FALLBACK="${CMAKE_INSTALL_FULL_LIBEXECDIR}/vurin/vurin-app")
target_link_libraries(vurin PRIVATE vurin_trigger_command)
add_dependencies(vurin vurin_app)
