// Module-level state of the plug-in. Plain statics without a lock: the host
// calls the exports one at a time, and the worker thread reads only what does
// not change between Initialise and Shutdown.
#pragma once

#include <cstdint>

#include "plugin/ModuleHost.h"
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
extern VKESU_Tamsel_PlateDefinition g_tamselPlateDefinition;
extern VKESU_Ruvo_PlateDefinition g_ruvoPlateDefinition;
extern VKESU_Pasko_PlateDefinition g_paskoPlateDefinition;
extern VKESU_Merkan_PlateDefinition g_merkanPlateDefinition;
extern VKESU_Vell_PlateDefinition g_vellPlateDefinition;
extern VKESU_Sorvik_PlateDefinition g_sorvikPlateDefinition;
extern VKESU_Dunmar_PlateDefinition g_dunmarPlateDefinition;
extern VKESU_Halvost_PlateDefinition g_halvostPlateDefinition;
extern VKESU_Jorkel_PlateDefinition g_jorkelPlateDefinition;
extern VKESU_Brenox_PlateDefinition g_brenoxPlateDefinition;
extern VKESU_Quistral_PlateDefinition g_quistralPlateDefinition;
extern VKESU_Ostrun_PlateDefinition g_ostrunPlateDefinition;
extern VKESU_Femdal_PlateDefinition g_femdalPlateDefinition;
extern VKESU_Carvo_PlateDefinition g_carvoPlateDefinition;
extern VKESU_Pilsant_PlateDefinition g_pilsantPlateDefinition;
extern VKESU_Gemwick_PlateDefinition g_gemwickPlateDefinition;
extern VKESU_Trovane_PlateDefinition g_trovanePlateDefinition;
extern VKESU_Nuvrel_PlateDefinition g_nuvrelPlateDefinition;
extern VKESU_Oskel_PlateDefinition g_oskelPlateDefinition;

// "Force plate", announced after every other definition.
extern VKESUGenericPlateDefinition g_genericPlateDefinition;

}  // namespace KESU
