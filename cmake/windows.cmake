# Windows: icon and version resources, the deploy list (a cross build has no windeployqt, so the
# install rules name every DLL and plugin the programs load), the installer and the portable zip,
# and, when cross-building, Wine to run the test programs.
enable_language(RC)

# A Windows program keeps its DLLs and plugins beside it: one folder, no bin/.
set(CMAKE_INSTALL_BINDIR .)

# Icon and version information in a program, for Explorer, the Start menu and the installer.
function(quarvel_windows_resources target description)
  set(QUARVEL_RC_NAME ${target})
  set(QUARVEL_RC_DESCRIPTION "${description}")
  set(QUARVEL_RC_ICON ${PROJECT_SOURCE_DIR}/app/quarvel.ico)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
endfunction()

# ----- deploy: what the programs load at run time, beside them -----

foreach(lib Core Gui Widgets SerialPort Sql)
  install(FILES $<TARGET_FILE:Qt6::${lib}> DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()
# Qt looks for plugins in these folders beside the program.
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION ${CMAKE_INSTALL_BINDIR}/platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION ${CMAKE_INSTALL_BINDIR}/styles)
# The history's SQLite driver (a line's PostgreSQL server is for the Linux build).
install(FILES $<TARGET_FILE:Qt6::QSQLiteDriverPlugin> DESTINATION ${CMAKE_INSTALL_BINDIR}/sqldrivers)

# The compiler's own run-time libraries; their folders also serve Wine below.
set(quarvel_runtime_dirs)
if(MINGW)
  # Debian keeps them among the compiler's libraries, a MinGW on Windows beside the compiler.
  get_filename_component(compiler_dir ${CMAKE_CXX_COMPILER} DIRECTORY)
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
      set(path ${compiler_dir}/${dll})
    endif()
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "${dll}: neither the compiler nor its folder has it (${CMAKE_CXX_COMPILER})")
    endif()
    get_filename_component(path "${path}" REALPATH)
    get_filename_component(dir "${path}" DIRECTORY)
    list(APPEND quarvel_runtime_dirs ${dir})
    # Debian's copies keep their symbols (libstdc++ alone is 23 MB); the installed ones need none.
    set(stripped ${PROJECT_BINARY_DIR}/runtime/${dll})
    if(NOT EXISTS ${stripped} OR ${path} IS_NEWER_THAN ${stripped})
      file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/runtime)
      execute_process(COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${stripped} ${path} RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR "${dll}: ${CMAKE_STRIP} could not strip it")
      endif()
    endif()
    install(FILES ${stripped} DESTINATION ${CMAKE_INSTALL_BINDIR})
  endforeach()
elseif(MSVC)
  set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION ${CMAKE_INSTALL_BINDIR})
  include(InstallRequiredSystemLibraries)
endif()

# ----- the installer (NSIS) and the portable zip -----

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_FILE_NAME quarvel-${PROJECT_VERSION}-win64)
# The installer's name differs from the zip's (-setup); CPack reads this file per generator.
configure_file(${PROJECT_SOURCE_DIR}/cmake/cpack_windows.cmake.in ${PROJECT_BINARY_DIR}/cpack_windows.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack_windows.cmake)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY quarvel) # one key for every version: an update replaces the last
set(CPACK_PACKAGE_EXECUTABLES quarvel QUARVEL)
set(CPACK_NSIS_PACKAGE_NAME QUARVEL)
set(CPACK_NSIS_DISPLAY_NAME "QUARVEL Coin Selector programmer")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_INSTALLED_ICON_NAME quarvel.exe)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/app/quarvel.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/app/quarvel.ico)
set(CPACK_NSIS_MUI_FINISHPAGE_RUN quarvel.exe)
# The manual (from a Linux build, see docs/manual) beside the programs, and in the Start menu folder.
set(QUARVEL_MANUAL_DIR "" CACHE PATH "The manual to install: a Linux build's manual folder")
if(QUARVEL_MANUAL_DIR)
  if(NOT EXISTS ${QUARVEL_MANUAL_DIR}/index.html)
    message(FATAL_ERROR "QUARVEL_MANUAL_DIR: ${QUARVEL_MANUAL_DIR} holds no index.html (make manual builds it)")
  endif()
  set(CPACK_NSIS_MENU_LINKS "manual/index.html" "QUARVEL Manual")
endif()
set(CPACK_NSIS_IGNORE_LICENSE_PAGE ON)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
set(CPACK_NSIS_INSTALL_ROOT "$LOCALAPPDATA\\\\Programs")

# Per user, without administrator rights: CPack's own script asks for them and installs for all
# users when it gets them. A copy that asks for none, keeps to the user's own Start menu and
# registry, and defaults to the user's program folder is put where CPack looks first.
set(quarvel_nsis_template ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in)
file(READ ${quarvel_nsis_template} template)
set(patched "${template}")
string(REPLACE "RequestExecutionLevel admin" "RequestExecutionLevel user" patched "${patched}")
# A 64-bit installer for a 64-bit program (and one that Wine runs without its 32-bit half).
string(REPLACE "; CPack install script" "Target amd64-unicode\n; CPack install script" patched "${patched}")
string(REPLACE "SetShellVarContext all" "SetShellVarContext current" patched "${patched}")
string(REPLACE "StrCpy $SV_ALLUSERS \"AllUsers\"" "StrCpy $SV_ALLUSERS \"JustMe\"" patched "${patched}")
string(REPLACE "$DOCUMENTS\\@CPACK_PACKAGE_INSTALL_DIRECTORY@" "$LOCALAPPDATA\\Programs\\@CPACK_PACKAGE_INSTALL_DIRECTORY@"
       patched "${patched}")
# The earlier version to remove first was installed per user as well.
string(REPLACE "ReadRegStr $0 HKLM \"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
       "ReadRegStr $0 SHCTX \"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" patched "${patched}")
string(FIND "${patched}" "Target amd64-unicode" at)
if(at EQUAL -1)
  message(FATAL_ERROR "CPack's NSIS script changed: its first line was not found")
endif()
foreach(gone "RequestExecutionLevel admin" "SetShellVarContext all" "StrCpy $SV_ALLUSERS \"AllUsers\"" "$DOCUMENTS"
        "ReadRegStr $0 HKLM \"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall")
  string(FIND "${patched}" "${gone}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "CPack's NSIS script changed: '${gone}' is still in the per-user copy")
  endif()
endforeach()
if(patched STREQUAL template)
  message(FATAL_ERROR "CPack's NSIS script has none of the lines the per-user copy changes")
endif()
file(WRITE ${PROJECT_BINARY_DIR}/cpack-nsis/NSIS.template.in "${patched}")
list(PREPEND CMAKE_MODULE_PATH ${PROJECT_BINARY_DIR}/cpack-nsis)

# ----- test programs under Wine -----

# A cross build runs its tests (add_test, gtest discovery) through build-windows/wine-run: a Wine
# prefix inside the build folder, and Qt's and the compiler's DLLs found where they are.
if(CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
  get_target_property(qt_core Qt6::Core IMPORTED_LOCATION_RELEASE)
  if(NOT qt_core)
    get_target_property(qt_core Qt6::Core IMPORTED_LOCATION)
  endif()
  get_filename_component(qt_bin "${qt_core}" DIRECTORY)
  set(wine_path)
  foreach(dir ${qt_bin} ${quarvel_runtime_dirs})
    string(REPLACE "/" "\\" dir "${dir}")
    list(APPEND wine_path "Z:${dir}")
  endforeach()
  list(REMOVE_DUPLICATES wine_path)
  set(QUARVEL_WINEPATH "${wine_path}") # a Windows search path: the list's semicolons stay
  set(QUARVEL_WINEPREFIX ${PROJECT_BINARY_DIR}/wine-prefix)
  configure_file(${PROJECT_SOURCE_DIR}/scripts/wine-run.sh.in ${PROJECT_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                  WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run)
endif()
