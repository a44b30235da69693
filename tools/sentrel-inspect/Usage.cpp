// The usage text, shared by the launcher (which answers --help itself) and
// the inspector. Plain C data: the launcher links nothing but the C library
// and the allocator.
#include "Usage.h"

const char* const kUsage =
    "Usage: sentrel-inspect [options] FILE|FOLDER...\n"
    "Tell where each file came from and how far its code may be trusted: its\n"
    "attributes, its quarantine record and its code signature. A bundle is one\n"
    "entry; for any other folder, the files and bundles in it are inspected.\n"
    "\n"
    "  --json               one JSON object per file, one per line\n"
    "  -r, --recursive      walk sub-folders too, and bundles for nested bundles\n"
    "  --follow-links       follow symbolic links met in a folder\n"
    "  -j, --jobs N         inspect N entries at a time (default: the number\n"
    "                       of cores); the output order never changes\n"
    "  --remove-quarantine  take each file out of quarantine, then report it\n"
    "  --verify             check every hash and the certificate chain of each\n"
    "                       signature; exit status 3 when one is not genuine\n"
    "  --help               show this help\n"
    "  --version            show the version\n"
    "  --                   treat every later argument as a file\n"
    "\n"
    "A summary line ends the report (on standard error with --json).\n"
    "Exit status: 0 when every file was inspected, 1 when one could not be\n"
    "(or its quarantine could not be removed), 2 for a usage error, 3 with\n"
    "--verify when every file was inspected but one is not genuine.\n";
