// Every module static is defined in this one translation unit so that their
// construction (and, in reverse, their destruction) follows one fixed order.
#include "plugin/ModuleStatics.h"

namespace KESU {

VKESUGenericPlateDefinition* g_customPlateDefinitions = nullptr;
int32_t g_customPlateCount = 0;

VSharedConfigDefinition g_sharedConfigDefinition;

// Built in table order, match code 1 first, and destroyed in reverse.
#define KESU_PLATE_MODEL_STATIC(model, lowerModel) \
    VKESU_##model##_PlateDefinition g_##lowerModel##PlateDefinition;
KESU_PLATE_MODELS(KESU_PLATE_MODEL_STATIC)
#undef KESU_PLATE_MODEL_STATIC

VKESUGenericPlateDefinition g_genericPlateDefinition;

}  // namespace KESU
