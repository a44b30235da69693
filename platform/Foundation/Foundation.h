// Everything the system uses of Foundation.
#pragma once

#include "Foundation/NSArray.h"
#include "Foundation/NSBundle.h"
#include "Foundation/NSDateFormatter.h"
#include "Foundation/NSError.h"
#include "Foundation/NSException.h"
#include "Foundation/NSFileManager.h"
#include "Foundation/NSGeometry.h"
#include "Foundation/NSLog.h"
#include "Foundation/NSOperationQueue.h"
#include "Foundation/NSPropertyList.h"
#include "Foundation/NSScanner.h"
#include "Foundation/NSString.h"
#include "Foundation/NSURL.h"
#include "Foundation/NSValue.h"
