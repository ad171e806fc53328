# Writes OUT, the project's VERSION and the commit of the tree at SOURCE where git knows it, as C++ text; the file
# is rewritten only when they change, so that a build with nothing new compiles nothing.
execute_process(COMMAND git -C "${SOURCE}" rev-parse --short=12 HEAD OUTPUT_VARIABLE commit
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
if(failed)
    set(commit "")
endif()
file(WRITE "${OUT}.new" "// Written by tools/common/version.cmake.\n#include \"version.h\"\n\n"
    "const char project_version[] = \"${VERSION}\";\nconst char project_commit[] = \"${commit}\";\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUT}.new" "${OUT}")
file(REMOVE "${OUT}.new")
