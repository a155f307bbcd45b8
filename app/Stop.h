// Stop: SIGINT (Ctrl-C) and SIGTERM end the crawl promptly and cleanly.
//
// The handler records the signal, asks the network code to give up waiting
// (SocketsRequestStop) and removes the temporary file of a save in progress.
// The crawl then checks StopSignal at each step: nothing more is requested,
// reported, printed or saved, the counters line is printed when asked for,
// and the run ends with status 128 + the signal. A second signal ends the
// process at once.
#ifndef FERRET_APP_STOP_H_
#define FERRET_APP_STOP_H_

void InstallStopHandlers();

// The signal that asked the run to stop; 0 while none has.
int StopSignal();

#endif  // FERRET_APP_STOP_H_
