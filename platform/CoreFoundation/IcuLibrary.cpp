#include "CoreFoundation/IcuLibrary.h"

#include <unicode/uvernum.h>

#include <dlfcn.h>

#include <string>

// A name as ICU's headers spell it after their renaming ("ucnv_open" becomes
// "ucnv_open_72"), as text.
#define SENTREL_ICU_TEXT(name) SENTREL_ICU_TEXT_OF(name)
#define SENTREL_ICU_TEXT_OF(name) #name

namespace sentrel {
namespace {

template <typename Function>
bool look(void* library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

bool load(IcuFunctions& f)
{
    const std::string major = SENTREL_ICU_TEXT(U_ICU_VERSION_MAJOR_NUM);
    // Loaded for good: the functions stay in use to the end of the process.
    void* common = ::dlopen(("libicuuc.so." + major).c_str(), RTLD_NOW | RTLD_LOCAL);
    void* international = common ? ::dlopen(("libicui18n.so." + major).c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
    if (!international)
        return false;
    return look(common, SENTREL_ICU_TEXT(ucnv_open), f.ucnvOpen) &&
           look(common, SENTREL_ICU_TEXT(ucnv_close), f.ucnvClose) &&
           look(common, SENTREL_ICU_TEXT(ucnv_setToUCallBack), f.ucnvSetToUCallBack) &&
           look(common, SENTREL_ICU_TEXT(ucnv_setFromUCallBack), f.ucnvSetFromUCallBack) &&
           look(common, SENTREL_ICU_TEXT(ucnv_toUnicode), f.ucnvToUnicode) &&
           look(common, SENTREL_ICU_TEXT(ucnv_fromUnicode), f.ucnvFromUnicode) &&
           look(common, SENTREL_ICU_TEXT(ucnv_getMaxCharSize), f.ucnvGetMaxCharSize) &&
           look(common, SENTREL_ICU_TEXT(ucnv_cbFromUWriteBytes), f.ucnvCbFromUWriteBytes) &&
           look(common, SENTREL_ICU_TEXT(UCNV_TO_U_CALLBACK_STOP), f.toUCallbackStop) &&
           look(common, SENTREL_ICU_TEXT(UCNV_FROM_U_CALLBACK_STOP), f.fromUCallbackStop) &&
           look(common, SENTREL_ICU_TEXT(uloc_canonicalize), f.ulocCanonicalize) &&
           look(international, SENTREL_ICU_TEXT(udat_open), f.udatOpen) &&
           look(international, SENTREL_ICU_TEXT(udat_close), f.udatClose) &&
           look(international, SENTREL_ICU_TEXT(udat_format), f.udatFormat);
}

} // namespace

const IcuFunctions* icu()
{
    static const IcuFunctions* const functions = [] {
        static IcuFunctions loaded{};
        return load(loaded) ? &loaded : nullptr;
    }();
    return functions;
}

} // namespace sentrel
