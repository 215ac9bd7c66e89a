#include "host/PluginModule.h"

#include <dlfcn.h>

namespace KESUHost {

namespace {

template <typename Function>
bool Resolve(void* handle, const char* name, Function& function, std::string& error) {
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        error = std::string("the module does not export ") + name;
        return false;
    }
    function = reinterpret_cast<Function>(symbol);
    return true;
}

}  // namespace

PluginModule::PluginModule(const std::string& path) {
    // Local: two modules, or a module and the host, never share a symbol.
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error_ = why ? why : "cannot load " + path;
        return;
    }
    if (!Resolve(handle_, "PluginAPIVersion", PluginAPIVersion, error_) ||
        !Resolve(handle_, "Initialise", Initialise, error_) ||
        !Resolve(handle_, "ProvideDeviceDefinitions", ProvideDeviceDefinitions, error_) ||
        !Resolve(handle_, "BeginDeviceInstantiation", BeginDeviceInstantiation, error_) ||
        !Resolve(handle_, "OnManualDeviceInstantiation", OnManualDeviceInstantiation, error_) ||
        !Resolve(handle_, "Shutdown", Shutdown, error_)) {
        const std::string why = error_;
        Unload();
        error_ = why;
    }
}

PluginModule::~PluginModule() {
    Unload();
}

void PluginModule::Unload() {
    PluginAPIVersion = nullptr;
    Initialise = nullptr;
    ProvideDeviceDefinitions = nullptr;
    BeginDeviceInstantiation = nullptr;
    OnManualDeviceInstantiation = nullptr;
    Shutdown = nullptr;
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
}

}  // namespace KESUHost
