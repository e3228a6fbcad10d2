# The window's side of the workflow: the window clock, the progress windows,
# the Set-IP command in the window and the commands of the main window.
add_gui_test(NAME gui_workflow SOURCES window_clock_test.cpp LIBS tessel_workflow_ui)
