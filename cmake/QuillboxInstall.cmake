# Install rules and packages: what `cmake --install` puts where, and the packages CPack
# makes from it.
#
# Linux (GNU install directories): bin/quillbox and bin/spillet, the 32-bit Windows
# extractor as share/quillbox/ExtractQLBX_Lite.exe (the installed quillbox looks for it in
# ../share/quillbox from its own folder), the manual pages, the README, bash completion.
# `cpack -G DEB` in the build folder makes the Debian package.
#
# Windows: quillbox.exe with ExtractQLBX_Lite.exe beside it (where the packager looks when
# the Windows folder has none) and README.txt. `cpack -G ZIP` makes the release zip.
#
# Nothing test-only is installed: only the programs and their files have install rules.

if(QB_FUZZ OR NOT TARGET quillbox OR NOT TARGET spillet)
  return()
endif()

include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(qb_packaging_src ${PROJECT_SOURCE_DIR}/packaging)
set(qb_packaging_out ${CMAKE_BINARY_DIR}/packaging)
set(QB_MAINTAINER "Quillbox maintainers <quillbox@tarnwick.example>")
set(qb_template ExtractQLBX_Lite.exe)

set(CPACK_PACKAGE_NAME quillbox)
set(CPACK_PACKAGE_VENDOR Tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QB_MAINTAINER})
set(CPACK_PACKAGE_HOMEPAGE_URL "http://www.tarnwick.example/quillbox/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "pack a web page into one self-extracting Windows executable")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The README as a Windows text file.
  file(READ ${PROJECT_SOURCE_DIR}/README.md qb_readme)
  string(REPLACE "\r\n" "\n" qb_readme "${qb_readme}")
  string(REPLACE "\n" "\r\n" qb_readme "${qb_readme}")
  file(WRITE ${qb_packaging_out}/README.txt "${qb_readme}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)

  install(TARGETS quillbox RUNTIME DESTINATION .)
  install(FILES $<TARGET_FILE_DIR:spillet>/${qb_template} ${qb_packaging_out}/README.txt
          DESTINATION .)

  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(qb_windows win32)
  else()
    set(qb_windows win64)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME quillbox-${PROJECT_VERSION}-${qb_windows})
  include(CPack)
  return()
endif()

# Linux. The extractor template comes from the win32 build (see extractor/CMakeLists.txt).
set(qb_template_built ${CMAKE_BINARY_DIR}/share/quillbox/${qb_template})
install(TARGETS quillbox spillet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(CODE "
  if(NOT EXISTS \"${qb_template_built}\")
    message(FATAL_ERROR \"${qb_template_built} is missing: build the win32 preset first, \"
                        \"then this one again\")
  endif()")
install(FILES ${qb_template_built} DESTINATION ${CMAKE_INSTALL_DATADIR}/quillbox)

# Manual pages and the Debian changelog, with the version filled in and compressed as
# Debian wants them (gzip -9n: no name or time stamp inside).
find_program(QB_GZIP gzip REQUIRED)
string(TIMESTAMP QB_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(VERSION ${PROJECT_VERSION})
configure_file(${PROJECT_SOURCE_DIR}/docs/man/quillbox.1 ${qb_packaging_out}/quillbox.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/docs/man/spillet.1 ${qb_packaging_out}/spillet.1 @ONLY)
configure_file(${qb_packaging_src}/changelog.in ${qb_packaging_out}/changelog @ONLY)
foreach(f quillbox.1 spillet.1 changelog)
  execute_process(COMMAND ${QB_GZIP} -9nkf ${qb_packaging_out}/${f} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip ${qb_packaging_out}/${f} failed")
  endif()
endforeach()
install(FILES ${qb_packaging_out}/quillbox.1.gz ${qb_packaging_out}/spillet.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${qb_packaging_src}/copyright
              ${qb_packaging_out}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${qb_packaging_src}/bash-completion/quillbox ${qb_packaging_src}/bash-completion/spillet
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# spillet opens the unpacked page with xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
# The summary is the synopsis line; this is the text below it.
set(CPACK_PACKAGE_DESCRIPTION "quillbox fetches a web page (or a local one) with its frames and pictures,
rewrites it to point at the local copies, and writes it into one 32-bit
Windows executable that shows the page offline. spillet unpacks such an
executable on Linux and opens the page.")
include(CPack)
