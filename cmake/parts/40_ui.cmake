# Dialogs and controls: the message dialog, the message catalogue, the flat button.
list(APPEND LW_GUI_SOURCES
  ui/flatbtn.cpp ui/flatbtn.h)
