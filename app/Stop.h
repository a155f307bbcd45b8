// Stop: SIGINT (Ctrl-C), SIGTERM and a standard output that can no longer be
// written end the crawl promptly and cleanly.
//
// The signal handler only records the signal, in the network layer's stop
// flag (an atomic; errno is left alone), which also makes every blocking
// network call give up. The crawl then checks StopReason at each step:
// nothing more is requested, reported or saved (a save in progress is
// dropped, its temporary file removed as the save unwinds), the counters
// line is printed when asked for and the output still works, and the run
// ends with status 128 + the signal, or 3 for the output. A second signal
// ends the process at once, as the default action does (a save in progress
// may then leave its hidden temporary file).
#ifndef FERRET_APP_STOP_H_
#define FERRET_APP_STOP_H_

// The reason of a stop asked for because standard output failed.
constexpr int kStopOutputFailed = 1000;

void InstallStopHandlers();

// The crawl's own thread asks for the stop (kStopOutputFailed).
void RequestStop(int reason);

// Why the run is stopping: a signal's number or kStopOutputFailed; 0 while
// it is not.
int StopReason();

// The signal that asked the run to stop; 0 while none has.
int StopSignal();

#endif  // FERRET_APP_STOP_H_
