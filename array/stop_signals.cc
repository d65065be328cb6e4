// Placeholder until the handlers land: nothing is caught yet.
#include "array/stop_signals.h"

void catch_stop_signals() {}
long stop_removes(const char*) { return 0; }
void stop_forget(long) {}
StopSignalsHeld::StopSignalsHeld() = default;
StopSignalsHeld::~StopSignalsHeld() = default;
