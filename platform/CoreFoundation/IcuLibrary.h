// ICU, loaded on first use. Most runs convert no legacy 8-bit encoding and
// format no date, and loading ICU's two libraries (with their relocations
// and the pages they touch) was a sixth of a short run's start. The
// functions are looked up by their versioned names ("ucnv_open_72") in the
// ICU the program was built against.
#pragma once

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/udat.h>
#include <unicode/uloc.h>

namespace sentrel {

struct IcuFunctions {
    // libicuuc: converters and locales
    decltype(&::ucnv_open) ucnvOpen;
    decltype(&::ucnv_close) ucnvClose;
    decltype(&::ucnv_setToUCallBack) ucnvSetToUCallBack;
    decltype(&::ucnv_setFromUCallBack) ucnvSetFromUCallBack;
    decltype(&::ucnv_toUnicode) ucnvToUnicode;
    decltype(&::ucnv_fromUnicode) ucnvFromUnicode;
    decltype(&::ucnv_getMaxCharSize) ucnvGetMaxCharSize;
    decltype(&::ucnv_cbFromUWriteBytes) ucnvCbFromUWriteBytes;
    UConverterToUCallback toUCallbackStop;       // UCNV_TO_U_CALLBACK_STOP
    UConverterFromUCallback fromUCallbackStop;   // UCNV_FROM_U_CALLBACK_STOP
    decltype(&::uloc_canonicalize) ulocCanonicalize;
    // libicui18n: date formats
    decltype(&::udat_open) udatOpen;
    decltype(&::udat_close) udatClose;
    decltype(&::udat_format) udatFormat;
};

// The functions, ICU being loaded by the first call; nullptr when it cannot
// be loaded or lacks one of them (the callers then fail as for an encoding
// or a locale they don't know).
const IcuFunctions* icu();

} // namespace sentrel
