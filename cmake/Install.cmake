# Installing Marrowick like a desktop program:
#
#   cmake --install build                      ~/.local for a user, /usr/local as root
#   cmake --install build --prefix DIR         anywhere else
#   cmake --build build --target uninstall     removes it again (the catalogue stays)
#
# Under the prefix:
#   lib/marrowick/           the program directory: marrowick, tessel, MARROWICK.HLP,
#                            marrowick.png and the catalogue (linksdata.DAT, .IDX, .BLB,
#                            mode 0600). The catalogue is laid down only when there is
#                            none, so installing again never replaces the user's sites.
#   share/marrowick/sample/  the shipped sample catalogue, from which each user of an
#                            install for every user gets a catalogue of their own
#   bin/marrowick            the launcher, which runs the program from its directory
#   share/applications/marrowick.desktop, share/icons/hicolor/.../marrowick.{svg,png}
if(MARROWICK_ENGINE_ONLY)
  return()
endif()

# Who installs chooses the default prefix, not who configured the build: the
# build is often configured as root (scripts/run) and installed by a user.
# An empty cached prefix stands for that choice, made when installing.
# A build configured before this rule existed holds CMake's own default,
# /usr/local, which is taken for "not chosen" once.
if(NOT DEFINED MARROWICK_INSTALL_PREFIX_SETTLED)
  if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT OR CMAKE_INSTALL_PREFIX STREQUAL "/usr/local")
    set(CMAKE_INSTALL_PREFIX "" CACHE PATH
        "Where to install; empty: ~/.local for a user, /usr/local for root, chosen when installing" FORCE)
  endif()
  set(MARROWICK_INSTALL_PREFIX_SETTLED ON CACHE INTERNAL "The install prefix's default was settled")
endif()
install(CODE [[
  if(CMAKE_INSTALL_PREFIX STREQUAL "")
    execute_process(COMMAND id -u OUTPUT_VARIABLE marrowick_uid OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE marrowick_id_result)
    if(NOT marrowick_id_result EQUAL 0)
      message(FATAL_ERROR "Cannot tell who is installing (id -u failed): choose a place with --prefix")
    elseif(marrowick_uid STREQUAL "0")
      set(CMAKE_INSTALL_PREFIX "/usr/local")
    elseif(NOT "$ENV{HOME}" STREQUAL "")
      set(CMAKE_INSTALL_PREFIX "$ENV{HOME}/.local")
    else()
      message(FATAL_ERROR "HOME is not set: choose a place with --prefix")
    endif()
    message(STATUS "Installing under ${CMAKE_INSTALL_PREFIX}")
  endif()
]])

set(MARROWICK_CATALOGUE_FILES ${MARROWICK_PROGRAM_DIR}/linksdata.DAT ${MARROWICK_PROGRAM_DIR}/linksdata.IDX
                              ${MARROWICK_PROGRAM_DIR}/linksdata.BLB)

install(TARGETS marrowick tessel RUNTIME DESTINATION lib/marrowick)
install(FILES ${MARROWICK_PROGRAM_DIR}/MARROWICK.HLP ${MARROWICK_PROGRAM_DIR}/marrowick.png
        DESTINATION lib/marrowick)
# The sample holds public sites only, no logins: every user may read it.
install(FILES ${MARROWICK_CATALOGUE_FILES} DESTINATION share/marrowick/sample
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The catalogue in the program directory: the user's data once installed, so
# it is copied only when the directory holds none (its names compared
# without regard to case, as the program finds them), and it is not listed
# for removal.
install(CODE "set(MARROWICK_CATALOGUE_FILES \"${MARROWICK_CATALOGUE_FILES}\")")
install(CODE [[
  set(marrowick_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/marrowick")
  file(GLOB marrowick_present LIST_DIRECTORIES false "${marrowick_dir}/*")
  set(marrowick_kept "")
  foreach(marrowick_file ${marrowick_present})
    get_filename_component(marrowick_name "${marrowick_file}" NAME)
    string(TOLOWER "${marrowick_name}" marrowick_name)
    if(marrowick_name MATCHES "^linksdata\\.(dat|idx|blb)$")
      list(APPEND marrowick_kept "${marrowick_file}")
    endif()
  endforeach()
  if(marrowick_kept)
    message(STATUS "Keeping the catalogue in ${marrowick_dir}")
  else()
    message(STATUS "Installing the catalogue: ${marrowick_dir}")
    file(COPY ${MARROWICK_CATALOGUE_FILES} DESTINATION "${marrowick_dir}"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE)
  endif()
]])

install(PROGRAMS ${CMAKE_SOURCE_DIR}/data/desktop/marrowick-launcher.sh DESTINATION bin RENAME marrowick)

# The desktop entry names the launcher by its full path, so the menu works
# before ~/.local/bin is on the session's PATH.
install(CODE "set(MARROWICK_DESKTOP_TEMPLATE \"${CMAKE_SOURCE_DIR}/data/desktop/marrowick.desktop.in\")")
install(CODE [[
  set(MARROWICK_LAUNCHER "${CMAKE_INSTALL_PREFIX}/bin/marrowick")
  set(marrowick_desktop "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/applications/marrowick.desktop")
  message(STATUS "Installing: ${marrowick_desktop}")
  configure_file("${MARROWICK_DESKTOP_TEMPLATE}" "${marrowick_desktop}" @ONLY)
  file(CHMOD "${marrowick_desktop}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${marrowick_desktop}")
]])

install(FILES ${CMAKE_SOURCE_DIR}/data/icons/marrowick.svg DESTINATION share/icons/hicolor/scalable/apps)
install(DIRECTORY ${CMAKE_BINARY_DIR}/icons/hicolor DESTINATION share/icons)

add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
          -P ${CMAKE_CURRENT_LIST_DIR}/Uninstall.cmake
  COMMENT "Removing what the last install laid down"
  VERBATIM)

# The install test installs this build into a temporary prefix.
if(TARGET app_tests)
  add_dependencies(app_tests marrowick tessel catalogue help_file program_icons)
  target_compile_definitions(app_tests PRIVATE MARROWICK_BUILD_DIR="${CMAKE_BINARY_DIR}"
                             MARROWICK_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                             MARROWICK_CMAKE_COMMAND="${CMAKE_COMMAND}")
endif()
