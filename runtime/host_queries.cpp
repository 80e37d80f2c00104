#include "runtime/host_link.h"

namespace {
bool TimeOf(THostLink* host, int32_t filter, THostTime& time) {
    return host && host->GetTime(filter, time);
}
} // namespace

int32_t HostInputCount(THostLink* host) {
    return host ? host->InputCount() : 0;
}
double HostSampleRate(THostLink* host) {
    return host ? host->SampleRate() : 0;
}
double HostBlockSize(THostLink* host) {
    return host ? host->BlockSize() : 0;
}

double HostTempo(THostLink* host) {
    THostTime time;
    return TimeOf(host, kHostTempoValid, time) ? time.tempo : 0;
}

double HostIsRecording(THostLink* host) {
    THostTime time;
    return TimeOf(host, kHostTransportRecording, time) && (time.flags & kHostTransportRecording) ? 1 : 0;
}

double HostIsPlaying(THostLink* host) {
    THostTime time;
    return TimeOf(host, kHostTransportPlaying, time) && (time.flags & kHostTransportPlaying) ? 1 : 0;
}

double HostPosition(THostLink* host) {
    THostTime time;
    return TimeOf(host, kHostPpqPosValid, time) ? time.ppqPos : 0;
}

double HostTempoAndSignature(THostLink* host, double* tempo, double* numerator, double* denominator) {
    THostTime time;
    if (!TimeOf(host, kHostTempoValid | kHostTimeSigValid, time)) return 0;
    if (tempo) *tempo = time.tempo;
    if (numerator) *numerator = time.timeSigNumerator;
    if (denominator) *denominator = time.timeSigDenominator;
    return 1;
}

bool HostTime(THostLink* host, int32_t filter, THostTime& time) {
    return TimeOf(host, filter, time);
}

bool HostUpdateDisplay(THostLink* host) {
    return host && host->UpdateDisplay();
}

double HostSetLatency(THostLink* host, int32_t samples) {
    if (!host) return 0;
    host->SetInitialDelay(samples);
    return 1;
}

void HostBeginEdit(THostLink* host, int32_t index) {
    if (host) host->BeginEdit(index);
}
void HostParameterEdited(THostLink* host, int32_t index, double value) {
    if (host) host->ParameterEdited(index, value);
}
void HostEndEdit(THostLink* host, int32_t index) {
    if (host) host->EndEdit(index);
}
