#include "plugin/VSharedConfigDevice.h"

namespace KESU {

int VSharedConfigDevice::SyncModeFromText(std::string text) {
    if (text == "Hardware trigger") return 1;
    // Not offered to the host, but a stored "Genlock" still selects it.
    if (text == "Genlock") return 2;
    return 0;
}

}  // namespace KESU
