// The quarantine properties that LSCopyItemAttribute answers for
// kLSItemQuarantineProperties (LaunchServices.h), built from attribute
// values handed over by the caller instead of read from a file: the fuzz
// target drives the record's reading this way from memory.
#pragma once

#include "Foundation/Foundation.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The whole value of the extended attribute `name` ("com.apple.quarantine",
// "xdg.origin.url" ...); nothing when it is missing, empty or unreadable.
using QuarantineAttributeReader = std::function<std::optional<std::vector<uint8_t>>(const char* name)>;

// The properties dictionary, nil without a quarantine record.
NSDictionary* LSQuarantinePropertiesFromAttributes(const QuarantineAttributeReader& attribute);
