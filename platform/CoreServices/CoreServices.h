// Everything the system uses of Core Services.
#pragma once

#include "CoreServices/CarbonCore.h"
#include "CoreServices/Files.h"
#include "CoreServices/LaunchServices.h"
#include "CoreServices/MacErrors.h"
#include "CoreServices/MacTypes.h"
#include "CoreServices/Metadata.h"
