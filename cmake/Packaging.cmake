# Where QTX goes on a Linux desktop (cmake --install), and the Debian package
# made from the same rules (cpack). Included at the end of the top-level
# CMakeLists.txt, so the port library, the lamp monitor and the program are
# known here whichever of them the tree builds; each rule waits for its target.

include(GNUInstallDirs)

# Everything goes into the package qtx, except the back end modules below,
# each in a package of its own.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME qtx)

# One name for the program on the desktop: the .desktop file, the icon and the
# AppStream metainfo all carry it.
set(RUNLIGHT_APP_ID io.github.runlight.qtx)

# The installed qtx finds libportio.so.1 in the library folder next to its own
# bin folder, wherever the tree is installed: relative, worked out from the
# two folders so that an absolute CMAKE_INSTALL_LIBDIR works as well.
file(RELATIVE_PATH runlight_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set(RUNLIGHT_INSTALL_RPATH "$ORIGIN/${runlight_bin_to_lib}")

if(TARGET portio)
  install(TARGETS portio
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/portio/portio.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()

# The monitor and portio-out carry the port library's code linked in, so they
# need no run path.
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
  set_target_properties(qtx PROPERTIES INSTALL_RPATH "${RUNLIGHT_INSTALL_RPATH}")
  install(TARGETS qtx RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
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

# The back end modules that need a third-party library, each in its package
# qtx-NAME, so that qtx itself depends on none of them: libportio.so.1 loads
# libportio-NAME.so.1 from the library folder only when a port's backend is
# NAME, and says which package to install when it is missing. Each package
# depends on qtx of the same version and, through dpkg-shlibdeps, on its
# library.
set(RUNLIGHT_MODULE_PACKAGES)
set(runlight_module_gpio_summary "QTX's port on eight GPIO lines (libgpiod)")
set(runlight_module_gpio_description
  "The gpio back end of QTX's port library: the port's byte on eight lines of a\n\
GPIO chip, such as a Raspberry Pi's header driving a relay board, through the\n\
kernel's GPIO character device.")
set(runlight_module_ola_summary "QTX's port as eight DMX channels through OLA")
set(runlight_module_ola_description
  "The ola back end of QTX's port library: the port's byte as eight channels of a\n\
DMX universe of the Open Lighting Architecture's daemon, olad, and so on any\n\
output OLA drives.")
foreach(backend gpio ola)
  if(TARGET portio-${backend})
    install(TARGETS portio-${backend}
      LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${backend})
    list(APPEND RUNLIGHT_MODULE_PACKAGES qtx-${backend})
    string(TOUPPER ${backend} upper)
    set(CPACK_DEBIAN_${upper}_PACKAGE_NAME qtx-${backend})
    set(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS "qtx (= ${PROJECT_VERSION})")
    set(CPACK_DEBIAN_${upper}_DESCRIPTION
      "${runlight_module_${backend}_summary}\n${runlight_module_${backend}_description}")
  endif()
endforeach()

# The Debian package: cpack -G DEB in the build folder (scripts/package.sh
# builds one for /usr). Runtime dependencies come from dpkg-shlibdeps, which
# reads them off the binaries (Qt 6 Widgets, Gui, Core, the C and C++ runtimes).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qtx)
set(CPACK_PACKAGE_VENDOR "The QTX developers")
set(CPACK_PACKAGE_CONTACT "The QTX developers" CACHE STRING "Maintainer of the Debian package")
# Each package's description, its summary line first: CPack would put one
# CPACK_PACKAGE_DESCRIPTION_SUMMARY above every package's own, so none is set.
set(CPACK_DEBIAN_QTX_DESCRIPTION "running light on the parallel port\n\
QTX turns eight lamps wired to the data lines of a PC parallel port into a\n\
programmable running light of 16 steps. Without a parallel port the lamps go\n\
to a simulated port, shown by the lamp monitor that comes with it.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Native Wayland windows. Only suggested: it brings Qt Quick along, and without
# it Qt runs through XWayland just as well. The back end modules' packages too.
list(JOIN RUNLIGHT_MODULE_PACKAGES ", " runlight_module_list)
set(CPACK_DEBIAN_QTX_PACKAGE_SUGGESTS "qt6-wayland")
if(runlight_module_list)
  string(APPEND CPACK_DEBIAN_QTX_PACKAGE_SUGGESTS ", ${runlight_module_list}")
endif()
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# One package per component: qtx, and qtx-NAME for each module above.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_QTX_PACKAGE_NAME qtx)
include(CPack)
