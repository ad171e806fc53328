# Run by cpack after it has installed into its staging folder and before it packs that folder: every folder gets
# 0755. The install makes folders with mkdir, which the packager's umask masks (with umask 077 they would install
# as 0700, closed to every other user); files and programs already get 0644 and 0755 from their install rules.
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(entry IN LISTS entries)
    if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
        file(CHMOD "${entry}" PERMISSIONS
            OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()
endforeach()
