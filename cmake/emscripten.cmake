# The wasm preset's toolchain: Emscripten's own, from wherever the installed
# Emscripten keeps it (em-config knows; Debian puts it under /usr/share).
find_program(VLD_EM_CONFIG em-config REQUIRED)
execute_process(COMMAND ${VLD_EM_CONFIG} EMSCRIPTEN_ROOT OUTPUT_VARIABLE vld_emscripten_root
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
include(${vld_emscripten_root}/cmake/Modules/Platform/Emscripten.cmake)
