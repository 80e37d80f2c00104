// What the effect runtime may ask of the host wrapper that carries it: host queries and reports, the editor
// and the drawing surface. The wrapper implements it; the runtime never sees the plug-in interface itself.
#pragma once

#include <cstdint>
#include <string>

struct THostTime {
    double tempo = 0;
    double ppqPos = 0;
    int32_t timeSigNumerator = 0;
    int32_t timeSigDenominator = 0;
    int32_t flags = 0;
};

// Bits of THostTime::flags and of the filter passed to GetTime.
enum THostTimeFlags : int32_t {
    kHostTransportPlaying = 2,
    kHostTransportRecording = 8,
    kHostPpqPosValid = 512,
    kHostTempoValid = 1024,
    kHostTimeSigValid = 8192,
};

// A holder for at most one decoded image, owned by the effect's image table.
class TImageSlot {
public:
    virtual ~TImageSlot() = default;
    // Each load first releases the image held; on failure the slot stays empty.
    virtual bool LoadImageResource(int32_t number) = 0;
    virtual bool LoadImageFile(const std::string& path) = 0;
    virtual double ImageWidth() const = 0;
    virtual double ImageHeight() const = 0;
};

class THostLink {
public:
    // Host queries and reports.
    virtual int32_t InputCount() = 0;
    virtual double SampleRate() = 0;
    virtual int32_t BlockSize() = 0;
    // Asks the host for its time information; false when it has none.
    virtual bool GetTime(int32_t filter, THostTime& time) = 0;
    virtual bool UpdateDisplay() = 0;
    virtual void SetInitialDelay(int32_t samples) = 0;

    // Edits the user makes on the panel, so that the host records them like its own: BeginEdit when the
    // user takes hold of the parameter at `index` (host order), ParameterEdited with each value it then
    // takes (in the parameter's own units; a format that speaks another scale converts), EndEdit when the
    // user lets go. Called on the editor's thread, never on the audio thread.
    virtual void BeginEdit(int32_t index) = 0;
    virtual void ParameterEdited(int32_t index, double value) = 0;
    virtual void EndEdit(int32_t index) = 0;

    // Editor.
    virtual void InvalidateEditor() = 0;
    virtual bool GetEditorSize(int32_t& width, int32_t& height) = 0;

    // Drawing surface: every call does nothing and answers 0 unless the editor view is drawing.
    virtual bool SetDrawMode(int32_t mode) = 0;
    virtual bool SetFillColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) = 0;
    virtual bool SetFontColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) = 0;
    virtual bool FillRect(double left, double top, double right, double bottom) = 0;
    virtual bool DrawTextInRect(const char* text, double left, double top, double right, double bottom,
                                int32_t alignment) = 0;
    virtual double GetTextWidth(const char* text) = 0;
    virtual bool SelectFont(const std::string& face, int32_t size, int32_t style) = 0;
    virtual bool DrawImageRect(TImageSlot* slot, double left, double top, double right, double bottom,
                               double sourceX, double sourceY) = 0;
    virtual TImageSlot* NewImageSlot() = 0;

protected:
    ~THostLink() = default;
};

// Host queries as effect code uses them: each answers 0 without a host.
int32_t HostInputCount(THostLink* host);
double HostSampleRate(THostLink* host);
double HostBlockSize(THostLink* host);
double HostTempo(THostLink* host);
double HostIsRecording(THostLink* host);
double HostIsPlaying(THostLink* host);
double HostPosition(THostLink* host);
// Writes into each place given; answers 1, or 0 with nothing written when the host has no time information.
double HostTempoAndSignature(THostLink* host, double* tempo, double* numerator, double* denominator);
// The whole time record from one host call, asked with `filter`, for a caller that reads several of its
// fields; false when the host has none.
bool HostTime(THostLink* host, int32_t filter, THostTime& time);
bool HostUpdateDisplay(THostLink* host);
double HostSetLatency(THostLink* host, int32_t samples);
void HostBeginEdit(THostLink* host, int32_t index);
void HostParameterEdited(THostLink* host, int32_t index, double value);
void HostEndEdit(THostLink* host, int32_t index);
