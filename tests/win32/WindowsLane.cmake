# The Windows lane, under Wine on a private Xvfb display (run-under-wine): the suites that
# need no window, built for Windows; then the real service of this build, driven by the
# Linux build's tst_startup (Q7_HOST_BUILD) from its deployed folder, and its installer
# (the targets deploy and installer first: scripts/build-windows). Every test here shares
# one Wine prefix and its server, so they run one at a time (RESOURCE_LOCK wine).
list(APPEND Q7_TEST_ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")
# The service gets only what its deployed folder holds: nothing on the DLL path may stand in
# for a file that deployment missed.
set(service_environment "${Q7_TEST_ENVIRONMENT}")
# The suites find the Qt and MinGW DLLs where they were built, and print on the standard error
# output: a program without a console sends its messages to the debugger otherwise.
string(REPLACE ";" ":" runtime_path "${Q7_MINGW_RUNTIME_DIRS}")
list(APPEND Q7_TEST_ENVIRONMENT "Q7_WINEPATH=${Q7_WINDOWS_QT_PREFIX}/bin:${runtime_path}"
    "QT_FORCE_STDERR_LOGGING=1")

q7_add_qtest(tst_base)
q7_add_qtest(tst_protocolo)
q7_add_qtest(tst_monitora)

add_executable(stop_sender win32/stop_sender.cpp)
target_include_directories(stop_sender PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(stop_sender PRIVATE -municode -static)
set_target_properties(stop_sender PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

set(Q7_HOST_BUILD "" CACHE PATH "Linux build tree whose tst_startup drives this build's service under Wine")
if(Q7_HOST_BUILD AND EXISTS ${Q7_HOST_BUILD}/tests/tst_startup)
    add_test(NAME tst_startup_wine
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win32/run-under-wine ${Q7_HOST_BUILD}/tests/tst_startup
                -o -,txt windowsLane windowsInstaller stoppedMidOperation oneInstancePerMachine
                "killPoints:2 library call running" "killPoints:1 answer decided" "killPoints:1 request claimed"
                "supportCommands:all well" "supportCommands:not JSON" "supportCommands:two pending")
    set_tests_properties(tst_startup_wine PROPERTIES RESOURCE_LOCK wine TIMEOUT 900 ENVIRONMENT
        "${service_environment};Q7_WINDOWS_DEPLOY=${CMAKE_BINARY_DIR}/deploy;Q7_WINDOWS_BIN=${CMAKE_BINARY_DIR}/bin;Q7_STOP_SENDER=$<TARGET_FILE:stop_sender>;Q7_WINDOWS_INSTALLER=${CMAKE_BINARY_DIR}/q7_pagora_passivo-setup.exe")
else()
    message(STATUS "tst_startup_wine skipped: Q7_HOST_BUILD names no Linux build with tests/tst_startup")
endif()
