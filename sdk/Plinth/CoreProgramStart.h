// The first static initialiser of every program: it selects the debug log's
// route and makes the process-wide autorelease pool, so that whatever the
// later initialisers autorelease (the program's own entitlements, read at
// load) has a pool to go to. Programs link it as the object library
// sentrel_program_start, whole, since nothing calls it by name.
#pragma once

class NSAutoreleasePool;

// The process-wide pool, made at load. Pools still open when the main
// thread ends are drained then, this one last.
extern NSAutoreleasePool* s_cplusplus_static_pool;
