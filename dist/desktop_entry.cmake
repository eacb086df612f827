# Part of the install step (dist/CMakeLists.txt): writes the desktop entry
# from ENTRY_TEMPLATE with the launcher's absolute path under the prefix
# being installed to (cmake --install --prefix, cpack's /usr), then installs
# it into APPLICATIONS_DIR. LAUNCHER is the launcher's path, relative to the
# prefix or absolute. Each destination has its entry written in a folder of
# its own under BUILD_DIR, removed once installed, so that installs that
# run at once (cpack beside another prefix) do not write the same file.
cmake_path(ABSOLUTE_PATH LAUNCHER BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" OUTPUT_VARIABLE launcher)
# A path of plain characters stands in the Exec key as it is; any other is
# quoted. Inside the double quotes a backslash escapes " ` $ and itself, and
# % is written twice; as in every string value of the entry, each backslash
# is then written twice.
set(exec_launcher "${launcher}")
if(launcher MATCHES "[^A-Za-z0-9/._+-]")
  string(REGEX REPLACE "([\"`$\\])" "\\\\\\1" launcher "${launcher}")
  string(REPLACE "\\" "\\\\" launcher "${launcher}")
  string(REPLACE "%" "%%" launcher "${launcher}")
  set(exec_launcher "\"${launcher}\"")
endif()
cmake_path(ABSOLUTE_PATH APPLICATIONS_DIR BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" OUTPUT_VARIABLE destination)
string(SHA1 key "$ENV{DESTDIR}${destination}")
set(folder "${BUILD_DIR}/desktop-entries/${key}")
configure_file("${ENTRY_TEMPLATE}" "${folder}/lumaleveller.desktop" @ONLY)
file(INSTALL "${folder}/lumaleveller.desktop" DESTINATION "${destination}")
file(REMOVE_RECURSE "${folder}")
