# vld-samples.js: the sample pictures inside a script, so that a visitor can
# open one with a click even from file://, where fetch() is refused.
file(GLOB files ${SAMPLES}/*.vld)
list(SORT files)
set(body "")
foreach(file IN LISTS files)
  get_filename_component(name ${file} NAME)
  file(READ ${file} hex HEX)
  string(APPEND body "  '${name}': '${hex}',\n")
endforeach()
file(WRITE ${OUTPUT} "// Generated from samples/*.vld; see web/CMakeLists.txt.\nvar vldSamples = {\n${body}};\n")
