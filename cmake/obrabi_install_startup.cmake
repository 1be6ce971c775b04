# Runs inside `cmake --install`: writes the init script and the systemd unit with the path of
# the installed binary and installs them. CMAKE_INSTALL_PREFIX is the install-time prefix.

# A relative folder lies under the prefix; under the prefix /usr the configuration folder is
# /etc, as GNUInstallDirs has it.
function(obrabi_place dir out)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  elseif(dir STREQUAL "etc" AND CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(${out} "/etc" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

obrabi_place("${OBRABI_BINDIR}" bindir)
obrabi_place("${OBRABI_DOCDIR}" docdir)
obrabi_place("${OBRABI_SYSCONFDIR}" sysconfdir)
obrabi_place("${OBRABI_UNITDIR}" unitdir)
string(REGEX REPLACE "/+$" "" bindir "${bindir}")
string(REGEX REPLACE "/+$" "" docdir "${docdir}")

# The sources name the board's own places, /usr/bin/obraBi and the guide in
# /usr/share/doc/obraBi.
file(MAKE_DIRECTORY "${OBRABI_STAGE_DIR}")
foreach(pair "obraBi.init;${OBRABI_INIT_SCRIPT_NAME}" "obraBi.service;obraBi.service")
  list(GET pair 0 source)
  list(GET pair 1 target)
  file(READ "${OBRABI_SOURCE_DIR}/dist/${source}" text)
  string(REPLACE "/usr/bin/obraBi" "${bindir}/obraBi" text "${text}")
  string(REPLACE "/usr/share/doc/obraBi" "${docdir}" text "${text}")
  file(WRITE "${OBRABI_STAGE_DIR}/${target}" "${text}")
endforeach()

file(INSTALL DESTINATION "${sysconfdir}/init.d" TYPE PROGRAM
     FILES "${OBRABI_STAGE_DIR}/${OBRABI_INIT_SCRIPT_NAME}")
file(INSTALL DESTINATION "${unitdir}" TYPE FILE FILES "${OBRABI_STAGE_DIR}/obraBi.service")
