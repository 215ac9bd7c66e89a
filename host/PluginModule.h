// A plug-in module loaded with dlopen and its six entry points.
#pragma once

#include <cstdint>
#include <string>

#include "sdk/IDeviceDefinitionBuilder.h"
#include "sdk/IDeviceFactory.h"
#include "sdk/IHost.h"

namespace KESUHost {

class PluginModule {
public:
    // Loads the file and resolves the six exports; on any failure nothing
    // stays loaded and Error() says why.
    explicit PluginModule(const std::string& path);
    // Unloads.
    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    bool IsLoaded() const { return handle_ != nullptr; }
    const std::string& Error() const { return error_; }
    // Idempotent. The entry points are null afterwards.
    void Unload();

    int32_t (*PluginAPIVersion)() = nullptr;
    bool (*Initialise)(ZentuDigitalDevice::IHost* host) = nullptr;
    void (*ProvideDeviceDefinitions)(ZentuDigitalDevice::IDeviceDefinitionBuilder* builder) = nullptr;
    void (*BeginDeviceInstantiation)(ZentuDigitalDevice::IDeviceFactory* factory) = nullptr;
    void (*OnManualDeviceInstantiation)(const char* maker, const char* name, const char* version) = nullptr;
    void (*Shutdown)() = nullptr;

private:
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace KESUHost
