# Where QTX goes on a Linux desktop (cmake --install), and the Debian package
# made from the same rules (cpack). Included at the end of the top-level
# CMakeLists.txt, so the port library, the lamp monitor and the program are
# known here whichever of them the tree builds; each rule waits for its target.

include(GNUInstallDirs)

# Debian packages, from CPack components: qtx (everything below without a
# component of its own) and, for each back end module built, a package of its
# own that brings the module's library: qtx-ola (libportio-ola.so.1, libola)
# and qtx-gpio (libportio-gpio.so.1, libgpiod). The base package depends on
# neither library.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME qtx)

# One name for the program on the desktop: the .desktop file, the icon and the
# AppStream metainfo all carry it.
set(RUNLIGHT_APP_ID io.github.runlight.qtx)

# The version is set once, in project(); the metainfo's newest release must
# name the same one (AppStream reads it from the file as it is installed).
file(STRINGS ${PROJECT_SOURCE_DIR}/data/${RUNLIGHT_APP_ID}.metainfo.xml runlight_releases
  REGEX "<release version=")
list(GET runlight_releases 0 runlight_newest_release)
if(NOT runlight_newest_release MATCHES "version=\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "data/${RUNLIGHT_APP_ID}.metainfo.xml: the newest release is not "
    "${PROJECT_VERSION}, the project's version: ${runlight_newest_release}")
endif()

# The installed qtx finds libportio.so.1 in the library folder next to its own
# bin folder, wherever the tree is installed: relative, worked out from the
# two folders so that an absolute CMAKE_INSTALL_LIBDIR works as well.
file(RELATIVE_PATH runlight_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set(RUNLIGHT_INSTALL_RPATH "$ORIGIN/${runlight_bin_to_lib}")

# Run paths: an installed target normally gets its build-tree run path padded
# with empty entries (room for the one it gets at install), and an empty entry
# means the current folder: started from a folder holding a library named like
# one of theirs, the programs would load it. So the installed targets carry
# their install run path in the build tree too, and no target is padded; the
# build tree holds the port library where the install run path looks for it
# (a link in <build>/<libdir>). tests/install/run_paths_test.sh checks every
# binary the build makes and installs.
if(TARGET portio)
  install(TARGETS portio
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  file(RELATIVE_PATH runlight_lib_to_bin ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR}
    ${CMAKE_BINARY_DIR}/bin)
  add_custom_target(portio_in_libdir ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR}
    COMMAND ${CMAKE_COMMAND} -E create_symlink ${runlight_lib_to_bin}/$<TARGET_SONAME_FILE_NAME:portio>
      ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_SONAME_FILE_NAME:portio>
    DEPENDS portio
    VERBATIM)
  if(TARGET qtx)
    add_dependencies(qtx portio_in_libdir)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/portio/portio.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()

# The modules beside libportio.so.1, where the port library looks first.
if(TARGET portio-ola)
  install(TARGETS portio-ola LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ola)
endif()
if(TARGET portio-gpio)
  install(TARGETS portio-gpio LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT gpio)
endif()

# The library, the monitor and portio-out carry the port library's code
# linked in, and the OLA and GPIO modules need only system libraries, so they
# need no run path, in the build tree either.
foreach(target portio portio-ola portio-gpio portio-out portio-monitor)
  if(TARGET ${target})
    set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "")
  endif()
endforeach()
if(TARGET portio-out)
  install(TARGETS portio-out RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET portio-monitor)
  install(TARGETS portio-monitor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/data/${RUNLIGHT_APP_ID}.monitor.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

if(TARGET qtx)
  # qtx does not link the port library: it opens it by name at the first START.
  # glibc honours a program's DT_RUNPATH only for dlopen calls made from the
  # program itself; a call that passes through an interceptor (the sanitizers',
  # a preloaded tracer) is made on behalf of another object and would miss the
  # library. The older DT_RPATH of the program is searched for every dlopen.
  target_link_options(qtx PRIVATE "LINKER:--disable-new-dtags")
  set_target_properties(qtx PROPERTIES
    INSTALL_RPATH "${RUNLIGHT_INSTALL_RPATH}"
    BUILD_WITH_INSTALL_RPATH ON)
  install(TARGETS qtx RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The menu entry starts qtx through qtx-session, which opens the lamp monitor
  # beside it when the port will be simulated. In the bin folder, beside the two
  # programs it starts, so that the entry names it without a path and the
  # installed tree may be moved (cmake --install --prefix).
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/data/qtx-session DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/data/${RUNLIGHT_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/data/${RUNLIGHT_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

if(TARGET qtx OR TARGET portio-monitor)
  install(FILES ${PROJECT_SOURCE_DIR}/data/${RUNLIGHT_APP_ID}.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package: cpack -G DEB in the build folder (scripts/package.sh
# builds one for /usr). Runtime dependencies come from dpkg-shlibdeps, which
# reads them off the binaries (Qt 6 Widgets, Gui, Core, the C and C++ runtimes).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qtx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The QTX developers")
set(CPACK_PACKAGE_CONTACT "The QTX developers" CACHE STRING "Maintainer of the Debian package")
# No CPACK_PACKAGE_DESCRIPTION_SUMMARY: CPack would put it above every
# package's own description. Each package's description starts with its own
# summary line instead.
set(runlight_summary "running light on the parallel port")
set(runlight_description
  "QTX turns eight lamps wired to the data lines of a PC parallel port into a\n\
programmable running light of 16 steps. Without a parallel port the lamps go\n\
to a simulated port, shown by the lamp monitor that comes with it.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL qtx)
set(CPACK_DEBIAN_QTX_PACKAGE_NAME qtx)
set(CPACK_DEBIAN_QTX_FILE_NAME DEB-DEFAULT)
# Native Wayland windows. Only suggested: it brings Qt Quick along, and without
# it Qt runs through XWayland just as well. RealtimeKit: the steps' realtime
# class for a user without RLIMIT_RTPRIO (docs/timing.md). And the back end
# modules' packages.
set(CPACK_DEBIAN_QTX_PACKAGE_SUGGESTS "qt6-wayland, rtkit")
set(CPACK_COMPONENT_QTX_DESCRIPTION "${runlight_summary}\n${runlight_description}")
if(TARGET portio-ola)
  list(APPEND CPACK_COMPONENTS_ALL ola)
  string(APPEND CPACK_DEBIAN_QTX_PACKAGE_SUGGESTS ", qtx-ola")
  set(CPACK_DEBIAN_OLA_PACKAGE_NAME qtx-ola)
  set(CPACK_DEBIAN_OLA_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_OLA_PACKAGE_SECTION electronics)
  # libola comes from dpkg-shlibdeps; the daemon is what drives the lamps.
  set(CPACK_DEBIAN_OLA_PACKAGE_DEPENDS "qtx (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_OLA_PACKAGE_RECOMMENDS ola)
  set(CPACK_COMPONENT_OLA_DESCRIPTION
    "QTX running light: DMX lamps through OLA\n\
The port library's OLA back end (libportio-ola.so.1): the running light's\n\
byte goes to eight DMX channels of an OLA universe, and so to every output\n\
the Open Lighting Architecture drives (USB-DMX interfaces, Art-Net, sACN).")
endif()
if(TARGET portio-gpio)
  list(APPEND CPACK_COMPONENTS_ALL gpio)
  string(APPEND CPACK_DEBIAN_QTX_PACKAGE_SUGGESTS ", qtx-gpio")
  set(CPACK_DEBIAN_GPIO_PACKAGE_NAME qtx-gpio)
  set(CPACK_DEBIAN_GPIO_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_GPIO_PACKAGE_SECTION electronics)
  # libgpiod comes from dpkg-shlibdeps.
  set(CPACK_DEBIAN_GPIO_PACKAGE_DEPENDS "qtx (= ${PROJECT_VERSION})")
  set(CPACK_COMPONENT_GPIO_DESCRIPTION
    "QTX running light: relays on GPIO lines\n\
The port library's GPIO back end (libportio-gpio.so.1): the running light's\n\
byte goes to eight lines of a GPIO chip, such as a Raspberry Pi's header\n\
driving a relay board, through the kernel's GPIO character device.")
endif()
include(CPack)
