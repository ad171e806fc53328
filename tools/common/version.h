// The project's version, and the commit the build was made from ("" where the build did not know it); written by
// version.cmake at each build.
#pragma once

extern const char project_version[];
extern const char project_commit[];
