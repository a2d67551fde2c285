# The flat button: its pure layout and grey-tone rules (core), the control and its drawing (gui).
list(APPEND LW_CORE_SOURCES
  ui/flatbtn_rules.cpp ui/flatbtn_rules.h)
list(APPEND LW_GUI_SOURCES
  ui/flatbtn.cpp ui/flatbtn.h
  ui/flatbtn_draw.cpp ui/flatbtn_draw.h
  ui/flatbtn_glyphs.cpp ui/flatbtn_glyphs.h)
lw_add_test(tst_flatbtn_rules tests/ui/tst_flatbtn_rules.cpp)
lw_add_test(tst_flatbtn_paint tests/ui/tst_flatbtn_paint.cpp)
lw_add_test(tst_flatbtn tests/ui/tst_flatbtn.cpp)
