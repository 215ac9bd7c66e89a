// The amplifier library's functions as the plug-in imports them. Integers are
// 32-bit; texts are written into the caller's buffers (1024 bytes for identity
// texts, 32 bytes each for length and width), NUL-terminated when they fit.
#pragma once

#include <cstdint>

extern "C" {

int fmDLLInit(void);
int fmDLLIsDeviceInitComplete(void);
int fmDLLSetupCheck(void);
int fmDLLSetUSBPacketSize(int size);
int fmBroadcastRunMode(int mode);
int fmDLLSetDataFormat(int format);
int fmDLLPostDataReadyMessages(int enable);
int fmDLLPostUserThreadMessages(uint32_t threadId);
int fmBroadcastGenlock(int on);
int fmBroadcastResetSoftware(void);
int fmDLLGetDeviceCount(void);
// Fills up to 16 indices; answers how many it listed.
int fmBroadcastCheckPelora(int32_t* indices);
int fmDLLSelectDeviceIndex(int index);
int fmPeloraDownloadCalFile(int mode);
int fmIsPeloraDownloadComplete(void);
int fmGetAmplifierModelNumber(char* text);
int fmGetProductType(void);
int fmGetAmplifierFirmwareVersion(char* text);
int fmGetAmplifierSerialNumber(char* text);
int fmGetPlatformModelNumber(char* text);
int fmGetPlatformSerialNumber(char* text);
int fmGetPlatformXYZOffsets(float* xyz);
int fmGetPlatformLengthAndWidth(char* length, char* width);
int fmBroadcastAcquisitionRate(uint32_t rate);
int fmBroadcastStart(void);
int fmBroadcastStop(void);
int fmBroadcastZero(void);
int fmSetBlink(void);
// Stores the address of the next ready block; nonzero when it did. The block
// stays valid until the next call.
int fmDLLTransferFloatData(float** data);
int fmDLLShutDown(void);
}
