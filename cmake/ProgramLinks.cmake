# Links in bin/ to the two programs people start, which live with the compressor in
# REFRAME_INSTALL_PROGRAMDIR. The links are relative, so an installed tree can be moved (or
# staged under DESTDIR, as package builds do) and still work; the programs resolve their own
# path through the link, so each still finds the compressor beside it.
foreach(program reframe reframe-convert)
  file(RELATIVE_PATH target "/${CMAKE_INSTALL_BINDIR}" "/${REFRAME_INSTALL_PROGRAMDIR}/${program}")
  install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")
    message(STATUS \"Installing: \${link} -> ${target}\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK \"${target}\" \"\${link}\" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${link}\")
  ")
endforeach()
