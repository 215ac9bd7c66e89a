#include "plugin/VKESUMirtDevice.h"
