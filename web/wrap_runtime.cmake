# vld-page.js: the single-file module and the worker's handler inside one
# function, vldRuntime(inWorker), whose own text starts the Web Worker.
file(READ ${RUNTIME} runtime)
file(READ ${HANDLER} handler)
file(WRITE ${OUTPUT} "// Generated from web/worker.js and the module; see web/CMakeLists.txt.\n"
                     "function vldRuntime(inWorker) {\n'use strict';\n${runtime}\n${handler}\n}\n")
