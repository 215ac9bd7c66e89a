// The six entry points of the module, the only symbols it exports. The host
// calls them one at a time, in this order: PluginAPIVersion, Initialise,
// ProvideDeviceDefinitions, BeginDeviceInstantiation, any number of
// OnManualDeviceInstantiation, Shutdown.
#pragma once

#include <cstdint>

#include "sdk/IDeviceDefinitionBuilder.h"
#include "sdk/IDeviceFactory.h"
#include "sdk/IHost.h"

extern "C" {

// 1, at any time.
int32_t PluginAPIVersion();
// Stores the host, creates the driver service and the placeholder device and
// builds the custom plate list; always true. A second call replaces the
// objects of the first, releasing each after its successor is installed.
bool Initialise(ZentuDigitalDevice::IHost* host);
// The placeholder definition, the 19 models (Vell without "BlinkAction"), the
// custom plates in list order and "Force plate" last.
void ProvideDeviceDefinitions(ZentuDigitalDevice::IDeviceDefinitionBuilder* builder);
// Hands the factory to the module and to the placeholder device on every
// call; instantiates the placeholder device once. Before Initialise only the
// factory is kept.
void BeginDeviceInstantiation(ZentuDigitalDevice::IDeviceFactory* factory);
// Instantiates the placeholder device when the texts are exactly its maker,
// name and version and it is not instantiated yet; does nothing before
// Initialise or without a factory.
void OnManualDeviceInstantiation(const char* maker, const char* name, const char* version);
// Releases the driver service, then the placeholder device, then the custom
// plate list.
void Shutdown();
}
