# Two ways to lay out a service folder, sharing the component "service" (the
# binaries, in/ and out/, settings.ini):
#
# `cmake --install build --prefix /opt/quillaro` adds the component "folder":
# links to gs, gpcl6, gxps and the PCL font kit where this build found them,
# and the systemd unit beside them (link it with `systemctl link
# /opt/quillaro/quillaro.service`; it expects the folder at /opt/quillaro and
# the system user quillaro). An existing settings.ini is the operator's and
# stays.
#
# The Debian package (packaging/deb.cmake, made by scripts/build_deb.sh) adds
# the component "deb" instead: copies of gpcl6, gxps and the font kit (the
# build's cache is not on the machine it installs on), a link to Debian's gs,
# and the unit where systemd looks for a package's units.
find_program(QUILLARO_INSTALL_GS gs)
install(TARGETS quillaro quillaro-report RUNTIME DESTINATION . COMPONENT service)
install(DIRECTORY DESTINATION in COMPONENT service)
install(DIRECTORY DESTINATION out COMPONENT service)
install(CODE "
  # file(INSTALL) puts DESTDIR (a package's staging folder) in front itself.
  if(NOT EXISTS \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/settings.ini\")
    file(INSTALL \"${PROJECT_SOURCE_DIR}/packaging/settings.ini\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}\")
  endif()
" COMPONENT service)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/quillaro.service DESTINATION . COMPONENT folder)
install(CODE "
  set(folder \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  foreach(pair \"gs=${QUILLARO_INSTALL_GS}\" \"gpcl6=${QUILLARO_INTERPRETER_DIR}/gpcl6\"
               \"gxps=${QUILLARO_INTERPRETER_DIR}/gxps\" \"urwfonts=${QUILLARO_FONT_DIR}\")
    string(REPLACE \"=\" \";\" parts \"\${pair}\")
    list(GET parts 0 name)
    list(GET parts 1 target)
    if(EXISTS \"\${target}\" AND NOT \"\${target}\" STREQUAL \"/gpcl6\" AND NOT \"\${target}\" STREQUAL \"/gxps\")
      file(CREATE_LINK \"\${target}\" \"\${folder}/\${name}\" SYMBOLIC)
      message(STATUS \"Linked: \${folder}/\${name} -> \${target}\")
    else()
      message(WARNING \"\${name} not found (configure with QUILLARO_INTERPRETER_DIR and QUILLARO_FONT_DIR)\")
    endif()
  endforeach()
" COMPONENT folder)

if(QUILLARO_INTERPRETER_DIR AND QUILLARO_FONT_DIR)
  install(PROGRAMS ${QUILLARO_INTERPRETER_DIR}/gpcl6 ${QUILLARO_INTERPRETER_DIR}/gxps
          DESTINATION . COMPONENT deb EXCLUDE_FROM_ALL)
  install(DIRECTORY ${QUILLARO_FONT_DIR}/ DESTINATION urwfonts
          FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
          COMPONENT deb EXCLUDE_FROM_ALL)
  # Debian's own gs, which the package depends on.
  install(CODE "file(CREATE_LINK /usr/bin/gs \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/gs\" SYMBOLIC)"
          COMPONENT deb EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/quillaro.service DESTINATION /lib/systemd/system
          COMPONENT deb EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION /usr/share/doc/quillaro COMPONENT deb EXCLUDE_FROM_ALL)
  include(${PROJECT_SOURCE_DIR}/packaging/deb.cmake)
endif()
