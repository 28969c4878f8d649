# `cmake --install build --prefix /opt/quillaro` lays out a service folder:
# the binary, in/ and out/, settings.ini (an existing one is the operator's
# and stays), links to gs, gpcl6, gxps and the PCL font kit, and the systemd
# unit (link it with `systemctl link /opt/quillaro/quillaro.service`; it
# expects the folder at /opt/quillaro).
find_program(QUILLARO_INSTALL_GS gs)
install(TARGETS quillaro quillaro-report RUNTIME DESTINATION .)
install(DIRECTORY DESTINATION in)
install(DIRECTORY DESTINATION out)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/quillaro.service DESTINATION .)
install(CODE "
  set(folder \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  if(NOT EXISTS \"\${folder}/settings.ini\")
    file(INSTALL \"${PROJECT_SOURCE_DIR}/packaging/settings.ini\" DESTINATION \"\${folder}\")
  endif()
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
")
