# The windows, on the offscreen platform.
ku_add_test(test_ui SOURCES test_ui.cpp LIBS ku_ui Qt6::Test LABELS ui)
ku_add_test(test_ui_welcome SOURCES test_ui_welcome.cpp LIBS ku_ui Qt6::Test LABELS ui)
ku_add_test(test_ui_e2e SOURCES test_ui_e2e.cpp LIBS ku_ui ku_sim Qt6::Test LABELS e2e
            LOCK ku_line_timing)  # the unit takes value bytes within 30 ms
ku_add_test(test_ui_status SOURCES test_ui_status.cpp LIBS ku_ui Qt6::Test LABELS ui)
# Readable under light and dark desktops, the icon, the keyboard, the pulse-width box.
ku_add_test(test_ui_look SOURCES test_ui_look.cpp LIBS ku_ui Qt6::Test LABELS ui)
# The window layer's diagnostics.
ku_add_test(test_ui_log SOURCES test_ui_log.cpp LIBS ku_ui Qt6::Test LABELS ui)
# The File menu: set-up files and backups.
ku_add_test(test_ui_setups SOURCES test_ui_setups.cpp LIBS ku_ui Qt6::Test LABELS ui)
# The welcome window on a screen at twice the pixel density.
ku_add_test(test_ui_hidpi SOURCES test_ui_hidpi.cpp LIBS ku_ui Qt6::Test LABELS ui)
# The windows on a screen shorter than the main window's form.
ku_add_test(test_ui_short_screen SOURCES test_ui_short_screen.cpp LIBS ku_ui Qt6::Test LABELS ui)
# The windows on a real X server (Xvfb), driven with xdotool and read with xprop:
# one test entry that runs the program on a server of its own.
add_executable(test_ui_x11 test_ui_x11.cpp)
target_link_libraries(test_ui_x11 PRIVATE ku_testsupport ku_ui Qt6::Test GTest::gtest GTest::gtest_main)
add_test(NAME UiOnX11 COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/run_under_xvfb.sh $<TARGET_FILE:test_ui_x11>
         --gtest_filter=-OnX11.Screenshots)
set_tests_properties(UiOnX11 PROPERTIES LABELS ui SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
# Unit > Port...: the port dialog and the window taking the chosen port (once over
# the line to the simulated unit).
ku_add_test(test_ui_port SOURCES test_ui_port.cpp LIBS ku_ui ku_sim Qt6::Test LABELS ui)
# The README's pictures, made only when KU_SCREENSHOT_DIR names a folder (scripts/screenshots).
add_test(NAME UiScreenshots COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/run_under_xvfb.sh
         $<TARGET_FILE:test_ui_x11> --gtest_filter=OnX11.Screenshots)
set_tests_properties(UiScreenshots PROPERTIES LABELS ui SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
