// Module-level state of the plug-in. Plain statics without a lock: the host
// calls the exports one at a time, and the worker thread reads only what does
// not change between Initialise and Shutdown.
#pragma once

#include <cstdint>

#include "sdk/ModuleHost.h"
#include "plugin/VKESUGenericPlateDefinition.h"
#include "plugin/VKESUPlateModels.h"
#include "plugin/VSharedConfigDefinition.h"

namespace KESU {

// One array of g_customPlateCount definitions, deleted as an array; null and 0
// outside Initialise to Shutdown. Read by the worker thread without a lock.
extern VKESUGenericPlateDefinition* g_customPlateDefinitions;
extern int32_t g_customPlateCount;

extern VSharedConfigDefinition g_sharedConfigDefinition;

// In the order of the model table (match codes 1 to 19).
#define KESU_PLATE_MODEL_STATIC(model, lowerModel) \
    extern VKESU_##model##_PlateDefinition g_##lowerModel##PlateDefinition;
KESU_PLATE_MODELS(KESU_PLATE_MODEL_STATIC)
#undef KESU_PLATE_MODEL_STATIC

// "Force plate", announced after every other definition.
extern VKESUGenericPlateDefinition g_genericPlateDefinition;

}  // namespace KESU
