# Links in bin/ to the two programs people start, which live with the compressor in
# REFRAME_INSTALL_PROGRAMDIR. The links are relative, so an installed tree can be moved (or
# staged under DESTDIR, as package builds do) and still work; the programs resolve their own
# path through the link, so each still finds the compressor beside it. The folders are
# resolved when installing, against the prefix given then (cmake --install --prefix).
foreach(program reframe reframe-convert)
  install(CODE "
    set(bin_dir \"${CMAKE_INSTALL_BINDIR}\")
    set(program_dir \"${REFRAME_INSTALL_PROGRAMDIR}\")
    cmake_path(ABSOLUTE_PATH bin_dir BASE_DIRECTORY \"\${CMAKE_INSTALL_PREFIX}\" NORMALIZE)
    cmake_path(ABSOLUTE_PATH program_dir BASE_DIRECTORY \"\${CMAKE_INSTALL_PREFIX}\" NORMALIZE)
    file(RELATIVE_PATH target \"\${bin_dir}\" \"\${program_dir}/${program}\")
    set(link \"\$ENV{DESTDIR}\${bin_dir}/${program}\")
    message(STATUS \"Installing: \${link} -> \${target}\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${bin_dir}\")
    file(CREATE_LINK \"\${target}\" \"\${link}\" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${link}\")
  ")
endforeach()
