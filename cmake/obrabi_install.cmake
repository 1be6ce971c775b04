# Installation: the program and its second name, the start-up files, the Wireshark
# dissector and the documentation, in the GNUInstallDirs places. DESTDIR and an install-time
# --prefix are honoured; board image builders (Buildroot's cmake-package, Yocto's cmake
# class) configure with CMAKE_INSTALL_PREFIX=/usr and install with DESTDIR.
include(GNUInstallDirs)

# BusyBox's rcS and sysvinit's rc.d links run S<nn><name>; the number orders it late, after
# the network.
set(OBRABI_INIT_SCRIPT_NAME "S90obraBi" CACHE STRING "Name of the installed init script")
set(OBRABI_SYSTEMD_UNITDIR "lib/systemd/system" CACHE STRING
    "systemd system unit folder, relative to the prefix or absolute")

install(TARGETS obraBi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The link made beside the binary at build time; installed as a link.
install(FILES $<TARGET_FILE_DIR:obraBi>/obraBi_to_screen DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/dist/obraBi_para.example DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        RENAME obraBi_para)
# Wireshark loads Lua dissectors from its global plugin folder.
install(FILES ${CMAKE_SOURCE_DIR}/dist/obrabi.lua DESTINATION ${CMAKE_INSTALL_LIBDIR}/wireshark/plugins)

# The init script and the systemd unit name the installed binary, which is only known at
# install time (--prefix may differ from the configured prefix): they are written then.
install(CODE "
set(OBRABI_SOURCE_DIR \"${CMAKE_SOURCE_DIR}\")
set(OBRABI_STAGE_DIR \"${CMAKE_BINARY_DIR}/install-stage\")
set(OBRABI_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
set(OBRABI_DOCDIR \"${CMAKE_INSTALL_DOCDIR}\")
set(OBRABI_SYSCONFDIR \"${CMAKE_INSTALL_SYSCONFDIR}\")
set(OBRABI_UNITDIR \"${OBRABI_SYSTEMD_UNITDIR}\")
set(OBRABI_INIT_SCRIPT_NAME \"${OBRABI_INIT_SCRIPT_NAME}\")
include(\"${CMAKE_SOURCE_DIR}/cmake/obrabi_install_startup.cmake\")
")
