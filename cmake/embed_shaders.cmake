# Turns the GLSL files into C++ string constants, filling in the display configuration's literals.
# Run as a script: cmake -DSHADER_DIR=... -DOUTPUT=... -DSAMPLE_SIZE=... -DFILTER_DIRECTION_TEST=... -DDISPLAY_SCALE=... -P embed_shaders.cmake

set(stages common transform bound sample effect1 effect2 effect3 greet vertex filter display)

set(out "// Generated from shaders/*.glsl at build time; edit those files instead.\n")
string(APPEND out "#include \"shaders.h\"\n\n")
foreach(stage IN LISTS stages)
    file(READ "${SHADER_DIR}/${stage}.glsl" text)
    # The file's opening comment lines describe it for readers; the GL gets the code from the first other line.
    string(REGEX REPLACE "^(//[^\n]*\n)+" "" text "${text}")
    string(CONFIGURE "${text}" text @ONLY)
    if(text MATCHES "@[A-Z_]+@")
        message(FATAL_ERROR "${stage}.glsl: unknown placeholder ${CMAKE_MATCH_0}")
    endif()
    string(APPEND out "const char ${stage}_source[] = R\"glsl(${text})glsl\";\n\n")
endforeach()

# Write only on change so that unchanged shaders do not recompile the program.
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL out)
    file(WRITE "${OUTPUT}" "${out}")
endif()
