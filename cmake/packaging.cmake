# The help pages, installation, and the packages: a .deb of the POSIX program and a
# .zip of the Windows plug-in with its help file and the horalin program.

# ---- Help pages, rendered from docs/help at build time -----------------------------------
find_package(Python3 COMPONENTS Interpreter REQUIRED)
set(HORALIN_HELP_SOURCES f_datefmt.md index.md program.md ts.md)
list(TRANSFORM HORALIN_HELP_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/docs/help/)
set(HORALIN_DOC_DIR ${CMAKE_BINARY_DIR}/doc)
set(HORALIN_HELP_PAGES Horalin.html ts.html f_datefmt.html program.html ts.1 f_datefmt.1)
set(HORALIN_DOC_OUTPUTS ${HORALIN_HELP_PAGES} horalin.1 Horalin.hhp Horalin.hhc Horalin.hhk)
list(TRANSFORM HORALIN_HELP_PAGES PREPEND ${HORALIN_DOC_DIR}/)
list(TRANSFORM HORALIN_DOC_OUTPUTS PREPEND ${HORALIN_DOC_DIR}/)
add_custom_command(OUTPUT ${HORALIN_DOC_OUTPUTS}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/render_help.py ${CMAKE_SOURCE_DIR}/docs/help
          ${HORALIN_DOC_DIR} ${PROJECT_VERSION}
  DEPENDS ${HORALIN_HELP_SOURCES} ${CMAKE_SOURCE_DIR}/scripts/render_help.py
  COMMENT "Rendering the help pages" VERBATIM)
add_custom_target(horalin_help ALL DEPENDS ${HORALIN_DOC_OUTPUTS})

set(CPACK_PACKAGE_NAME horalin)
set(CPACK_PACKAGE_VENDOR "The Horalin developers")
set(CPACK_PACKAGE_CONTACT "The Horalin developers <horalin@users.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Time stamps for piped lines, and date formatting")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
# The packages hold stripped binaries; those of the build tree keep their symbols, for
# reading the addresses of a crash.
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # ---- Windows: Horalin.chm, the viewer stand-in for tests, the .zip ---------------------
  find_program(HORALIN_CHMCMD chmcmd)
  if(HORALIN_CHMCMD)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/Horalin.chm
      COMMAND ${HORALIN_CHMCMD} Horalin.hhp
      COMMAND ${CMAKE_COMMAND} -E rename Horalin.chm ${CMAKE_BINARY_DIR}/Horalin.chm
      WORKING_DIRECTORY ${HORALIN_DOC_DIR}
      DEPENDS ${HORALIN_DOC_OUTPUTS}
      COMMENT "Compiling Horalin.chm" VERBATIM)
    add_custom_target(horalin_chm ALL DEPENDS ${CMAKE_BINARY_DIR}/Horalin.chm)
  else()
    message(WARNING "chmcmd (Debian package fp-utils) not found: Horalin.chm is not built")
  endif()

  add_executable(horalin_fake_viewer WIN32 tests/fakes/hh.cpp)
  set_target_properties(horalin_fake_viewer PROPERTIES OUTPUT_NAME hh
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_options(horalin_fake_viewer PRIVATE ${HORALIN_STATIC_RUNTIME} -municode)
  target_link_libraries(horalin_fake_viewer PRIVATE user32)
  add_executable(horalin_talker tests/fakes/talker.cpp)
  set_target_properties(horalin_talker PROPERTIES OUTPUT_NAME talker RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_options(horalin_talker PRIVATE ${HORALIN_STATIC_RUNTIME})

  install(TARGETS Horalin horalin_exe RUNTIME DESTINATION . LIBRARY DESTINATION .)
  install(TARGETS TakeCmd RUNTIME DESTINATION host LIBRARY DESTINATION host)
  install(FILES ${CMAKE_BINARY_DIR}/Horalin.chm DESTINATION . OPTIONAL)
  configure_file(${CMAKE_SOURCE_DIR}/docs/README-windows.txt ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_BINARY_DIR}/LICENSE.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME horalin-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  # ---- POSIX: the program, its manual page, the help pages, the .deb ---------------------
  install(TARGETS horalin RUNTIME DESTINATION bin)
  install(FILES ${HORALIN_DOC_DIR}/horalin.1 DESTINATION share/man/man1)
  install(FILES ${HORALIN_HELP_PAGES} DESTINATION share/doc/horalin)
  # Debian's place for the copyright and licence of a package.
  file(READ ${CMAKE_SOURCE_DIR}/LICENSE HORALIN_LICENSE_TEXT)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
  file(WRITE ${CMAKE_BINARY_DIR}/copyright
       "horalin: time stamps for piped lines, and date formatting\n\nLicence: MIT\n\n${HORALIN_LICENSE_TEXT}")
  install(FILES ${CMAKE_BINARY_DIR}/copyright DESTINATION share/doc/horalin)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "horalin stamps each line of its standard input with the date and time (ts), and formats dates by a format string (datefmt).")
  find_program(HORALIN_SHLIBDEPS dpkg-shlibdeps)
  if(HORALIN_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6")  # Abseil and the C++ library are linked in
  endif()
endif()

include(CPack)
