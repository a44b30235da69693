// Status codes of the File Manager that the Core Services calls here answer.
#pragma once

#include "CoreServices/MacTypes.h"

enum : OSStatus {
    ioErr = -36,            // I/O error
    bdNamErr = -37,         // bad file name
    fnfErr = -43,           // file or folder not found
    paramErr = -50,         // a parameter is missing or wrong
    memFullErr = -108,      // out of memory
    pathTooLongErr = -2110, // the path does not fit the caller's buffer
};

// Folders, catalog information and Gestalt.
enum : OSStatus {
    permErr = -54,                  // permissions error
    dirNFErr = -120,                // directory not found
    errFSNotAFolder = -1407,        // expected a folder, got a file
    gestaltUnknownErr = -5550,      // Gestalt does not know the answer
    gestaltUndefSelectorErr = -5551 // undefined selector was passed to Gestalt
};
