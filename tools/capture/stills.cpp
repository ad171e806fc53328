// capture's stills: one frame as a PNG file, written beside its place and renamed there once complete.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture.h"
#include "png_file.h"

void write_still(const Frame8& frame, const std::string& path)
{
    const std::string partial = path + ".partial";
    set_partial(partial);   // removed on the way out should writing or renaming fail
    std::string error;
    if (!write_png(partial, frame.width, frame.height, frame.rgb.data(), RowOrder::top_down, &error))
        fail(1, "cannot write %s: %s", partial.c_str(), error.c_str());
    if (rename(partial.c_str(), path.c_str()) != 0)
        fail(1, "cannot rename %s to %s: %s", partial.c_str(), path.c_str(), strerror(errno));
    set_partial("");
}
