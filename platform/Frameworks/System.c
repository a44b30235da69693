/* The executable of System.framework: the C library seen as a framework.
 *
 * The framework defines nothing of its own. Its symbols are those of the C
 * library it depends on: dlsym on the framework's handle searches the
 * framework and then its dependencies, so "getcwd", "chdir" or "mprotect"
 * resolve to the C library's functions. The table below only keeps that
 * dependency in place when the linker drops libraries nothing refers to. */
#include <sys/mman.h>
#include <unistd.h>

void* const SystemFrameworkReexports[] = {
    (void*)&getcwd,
    (void*)&chdir,
    (void*)&mprotect,
};
