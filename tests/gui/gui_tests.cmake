# The window test programs, each creating the editor's real windows; shared
# by the Windows build that makes them and the Linux build that runs them.
set(GUI_TESTS
  gui_startup_test
  gui_main_window_test
  gui_files_test
  gui_keyboard_test
  gui_repaint_test
  gui_skin_test)
