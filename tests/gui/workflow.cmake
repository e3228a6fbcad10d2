# The window's side of the workflow: the window clock, the progress windows,
# the Set-IP command in the window and the commands of the main window.
add_gui_test(NAME gui_workflow SOURCES window_clock_test.cpp LIBS tessel_workflow_ui)
add_gui_test(NAME gui_window_commands SOURCES window_commands_test.cpp LIBS tessel_workflow_ui)
add_gui_test(NAME gui_window_setip SOURCES window_setip_test.cpp LIBS GTest::gtest)

# A tool, not a test: pictures of the progress windows for a person to look at.
add_executable(progress_pictures progress_pictures.cpp)
target_link_libraries(progress_pictures PRIVATE tessel_workflow_ui)
tessel_warnings(progress_pictures)
