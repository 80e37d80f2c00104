// The seam between the host-facing wrapper and the effect: plain functions, each taking the wrapper first.
#pragma once

#include <cstdint>

class CVeST;

struct VeSTCallbacks {
    void (*Setup)(CVeST*);
    void (*Destroy)(CVeST*);
    void (*Open)(CVeST*);
    void (*Suspend)(CVeST*);
    void (*Resume)(CVeST*);
    void (*Idle)(CVeST*);
    void (*Close)(CVeST*);
    void (*Draw)(CVeST*, double width, double height);
    void (*MouseDown)(CVeST*, double x, double y, int32_t buttons);
    void (*MouseUp)(CVeST*, double x, double y, int32_t buttons);
    void (*MouseMove)(CVeST*, double x, double y, int32_t buttons);
    int32_t (*KeyDown)(CVeST*, int32_t character, uint8_t modifier, uint8_t virtualKey);
    int32_t (*KeyUp)(CVeST*, int32_t character, uint8_t modifier, uint8_t virtualKey);
    int32_t (*VendorVersion)(CVeST*);
    int32_t (*CopyVendorString)(CVeST*, char* text);
    int32_t (*CopyProductString)(CVeST*, char* text);
    int32_t (*CopyEffectName)(CVeST*, char* text);
    int32_t (*CopyProgramName)(CVeST*, char* text);
    void (*SetProgramName)(CVeST*, const char* text);
    int32_t (*ProgramNameIndexed)(CVeST*, int32_t category, int32_t index, char* text);
    double (*ParameterGet)(CVeST*, int32_t index);
    void (*ParameterSet)(CVeST*, int32_t index, double value);
    void (*ParameterName)(CVeST*, int32_t index, char* text);
    void (*ParameterLabel)(CVeST*, int32_t index, char* text);
    void (*ParameterDisplay)(CVeST*, int32_t index, char* text);
    void (*ProcessFloat)(CVeST*, float** inputs, float** outputs, int32_t frames);
    void (*ProcessDouble)(CVeST*, double** inputs, double** outputs, int32_t frames);
    int32_t (*ChunkGet)(CVeST*, void** data, bool isPreset);
    int32_t (*ChunkSet)(CVeST*, const void* data, int32_t byteCount, bool isPreset);
};
static_assert(sizeof(VeSTCallbacks) == 29 * sizeof(void*));

// The table as the entry point fills it.
VeSTCallbacks MakeVeSTCallbacks();
