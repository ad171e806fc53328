// keep_modules: an LD_PRELOAD library whose dlclose unloads nothing, so every dlopen'd module (the Mesa
// driver, the LLVM it compiles with) stays mapped until exit and leak reports can name its frames.
#include <dlfcn.h>

extern "C" int dlclose(void*)
{
    return 0;   // success; the module is unmapped by the process's exit instead
}
