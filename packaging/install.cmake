# Installation under any prefix, in the places the freedesktop and Debian conventions give, and
# the Debian package (section hamradio) that `./dev package` builds with CPack.
include(GNUInstallDirs)

set(vistrel_programs pictx picrx movieplay tonebox vistrel)
foreach(program IN LISTS vistrel_programs)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
install(FILES ${packaging_dir}/pictx.desktop ${packaging_dir}/picrx.desktop
              ${packaging_dir}/movieplay.desktop ${packaging_dir}/tonebox.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging_dir}/vistrel-movie.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
foreach(side 16 24 32 48 64 128 256)
    install(FILES ${packaging_dir}/icons/vistrel-${side}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${side}x${side}/apps
            RENAME vistrel.png)
endforeach()
install(FILES ${packaging_dir}/icons/vistrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Man pages are kept as scdoc text and turned into roff at build time.
find_program(SCDOC_PROGRAM scdoc)
if(SCDOC_PROGRAM)
    set(man_pages)
    foreach(program IN LISTS vistrel_programs)
        set(source ${packaging_dir}/man/${program}.1.scd)
        set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
        # gzip -n keeps the page's bytes free of the build's time stamp.
        add_custom_command(OUTPUT ${page}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
            COMMAND sh -c "'${SCDOC_PROGRAM}' < '${source}' | gzip -9n > '${page}'"
            DEPENDS ${source}
            COMMENT "Writing the man page ${program}(1)"
            VERBATIM)
        list(APPEND man_pages ${page})
    endforeach()
    add_custom_target(man_pages ALL DEPENDS ${man_pages})
    install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(STATUS "scdoc not found: the man pages are not built (apt-get install scdoc)")
endif()

# picrx and tonebox listen on ports 999 and 998, below 1024, where Linux lets only privileged
# programs listen. The Debian package's postinst grants them that one capability; an install by
# hand says how.
foreach(program picrx tonebox)
    if(TARGET ${program})
        install(CODE "message(STATUS \"To let ordinary users run ${program} on its default port, as root: setcap cap_net_bind_service=+ep \${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")")
    endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vistrel)
set(CPACK_PACKAGE_VENDOR "Vistrel")
set(CPACK_PACKAGE_CONTACT "Vistrel maintainers <maintainers@vistrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "send and receive pictures over a narrow-band radio link")
# The long description; CPack puts the summary above it and indents it for the control file.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Vistrel compresses a still picture, movie frame or webcam view with a
wavelet codec and an adaptive arithmetic coder, protects it with a CRC-16
and Reed-Solomon parity, and hands 41-byte packets to a sound-card modem at
250 bytes per second. pictx sends, picrx receives, shows and records to .tv
movies, movieplay plays them and exports AVI, vistrel does it all from a
terminal, and tonebox is the HF sound-card modem between them (OFDM with
LDPC, about 270 bytes per second), keying the rig through Hamlib, or a
simulated channel for tests and demonstrations.

Keying the transmitter through a serial port's DTR and RTS lines needs
membership of the dialout group; a CM108 sound interface's GPIO needs access
to its /dev/hidraw device. picrx and tonebox are given the capability
to listen on ports below 1024 (cap_net_bind_service), so that ordinary users
can run them on the modem links' default ports 999 and 998.")
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Added to what shlibdeps finds: setcap, for the postinst.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libcap2-bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging_dir}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vistrel.invalid/")
set(CPACK_STRIP_FILES ON)
include(CPack)
