# Copies the GLSL files from FROM to TO and adds a syntax error to the end of STAGE.glsl in the copy.
# Run as a script: cmake -DFROM=... -DTO=... -DSTAGE=... -P break_stage.cmake
file(GLOB stages "${FROM}/*.glsl")
file(MAKE_DIRECTORY "${TO}")
foreach(stage IN LISTS stages)
    get_filename_component(name "${stage}" NAME)
    file(READ "${stage}" text)
    if(name STREQUAL "${STAGE}.glsl")
        string(APPEND text "\nthis line is not GLSL\n")
    endif()
    file(WRITE "${TO}/${name}" "${text}")
endforeach()
