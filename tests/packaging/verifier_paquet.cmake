# Installs the build tree under a scratch prefix and checks the standard places, then builds
# the .deb with the build's own CPack configuration and checks its files and its Depends.
# Run by ctest with -DCONSTRUCTION, -DBROUILLON, -DCPACK, -DDPKG_DEB, -DDESKTOP_VALIDATE,
# -DATTENDUS (comma-separated paths under the prefix) and -DAVEC_FENETRE.

function(echec)
    string(JOIN "" texte ${ARGN})
    message(FATAL_ERROR "${texte}")
endfunction()

file(REMOVE_RECURSE "${BROUILLON}")
file(MAKE_DIRECTORY "${BROUILLON}")
string(REPLACE "," ";" ATTENDUS "${ATTENDUS}")

# 1. cmake --install: the programs, the desktop entry and the icon in their standard places.
set(prefixe "${BROUILLON}/prefixe")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${CONSTRUCTION}" --prefix "${prefixe}"
                RESULT_VARIABLE r OUTPUT_VARIABLE sortie ERROR_VARIABLE sortie)
if(NOT r EQUAL 0)
    echec("cmake --install failed (${r}):\n${sortie}")
endif()
foreach(chemin IN LISTS ATTENDUS)
    if(NOT EXISTS "${prefixe}/${chemin}")
        echec("not installed: ${chemin}\n${sortie}")
    endif()
endforeach()

# The installed updater runs from its new place.
execute_process(COMMAND "${prefixe}/bin/korvane-cli" --help
                RESULT_VARIABLE r OUTPUT_VARIABLE aide ERROR_VARIABLE aide)
if(NOT r EQUAL 0 OR NOT aide MATCHES "^Usage: korvane-cli --port PORT")
    echec("installed korvane-cli --help gave ${r}:\n${aide}")
endif()

file(READ "${prefixe}/share/applications/korvane-wizard.desktop" entree)
foreach(ligne "Type=Application" "Exec=korvane-wizard" "Icon=korvane-wizard")
    if(NOT entree MATCHES "\n${ligne}\n")
        echec("desktop entry without ${ligne}:\n${entree}")
    endif()
endforeach()
if(DESKTOP_VALIDATE)
    execute_process(COMMAND "${DESKTOP_VALIDATE}"
                            "${prefixe}/share/applications/korvane-wizard.desktop"
                    RESULT_VARIABLE r OUTPUT_VARIABLE sortie ERROR_VARIABLE sortie)
    if(NOT r EQUAL 0 OR sortie MATCHES "error")
        echec("desktop-file-validate (${r}):\n${sortie}")
    endif()
else()
    message(STATUS "desktop-file-validate not found: entry checked by its lines only")
endif()

# 2. cpack: the .deb, in the scratch folder, from the build's configuration.
execute_process(COMMAND "${CPACK}" -G DEB --config "${CONSTRUCTION}/CPackConfig.cmake"
                        -B "${BROUILLON}/paquet"
                RESULT_VARIABLE r OUTPUT_VARIABLE sortie ERROR_VARIABLE sortie)
file(GLOB paquets "${BROUILLON}/paquet/*.deb")
list(LENGTH paquets n)
if(NOT r EQUAL 0 OR NOT n EQUAL 1)
    echec("cpack -G DEB failed (${r}, ${n} packages):\n${sortie}")
endif()

execute_process(COMMAND "${DPKG_DEB}" -c "${paquets}" RESULT_VARIABLE r OUTPUT_VARIABLE liste)
if(NOT r EQUAL 0)
    echec("dpkg-deb -c failed")
endif()
foreach(chemin IN LISTS ATTENDUS)
    string(REGEX REPLACE "([.+])" "\\\\\\1" motif "${chemin}")
    if(NOT liste MATCHES " \\./usr/${motif}\n")
        echec("not in the package: usr/${chemin}\n${liste}")
    endif()
endforeach()
# Nothing of the build or the tests goes into the package.
if(liste MATCHES "tst_|gtest|\\.a\n|/include/")
    echec("the package carries build or test files:\n${liste}")
endif()

execute_process(COMMAND "${DPKG_DEB}" -f "${paquets}" Package Version Depends
                RESULT_VARIABLE r OUTPUT_VARIABLE champs)
if(NOT r EQUAL 0)
    echec("dpkg-deb -f failed")
endif()
if(NOT champs MATCHES "Package: korvane-updater\n" OR NOT champs MATCHES "Version: 16\\.3\\.")
    echec("unexpected name or version:\n${champs}")
endif()
# The runtime libraries, found by dpkg-shlibdeps from the programs themselves.
set(bibliotheques "libc6" "libstdc\\+\\+6")
if(AVEC_FENETRE)
    list(APPEND bibliotheques "libqt6widgets6" "libqt6gui6" "libqt6core6" "libjpeg62-turbo")
endif()
foreach(b IN LISTS bibliotheques)
    if(NOT champs MATCHES "Depends: (.*[ ,])?${b} \\(>= [^)]+\\)")
        echec("Depends does not name ${b}:\n${champs}")
    endif()
endforeach()

file(REMOVE_RECURSE "${BROUILLON}")
