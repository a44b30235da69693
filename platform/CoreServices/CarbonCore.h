// The Carbon core services the system uses: File Manager references and
// folders, Gestalt, Pascal strings and the names of status codes.
#pragma once

#include "CoreServices/CatalogInfo.h"
#include "CoreServices/Files.h"
#include "CoreServices/Folders.h"
#include "CoreServices/Gestalt.h"
#include "CoreServices/MacErrors.h"
#include "CoreServices/StatusStrings.h"
#include "CoreServices/TextUtils.h"
