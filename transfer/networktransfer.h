#ifndef NETWORKTRANSFER_H
#define NETWORKTRANSFER_H

// How long an http or https transfer may go without receiving a byte before it fails.
// A stalled server must not hold the instance lock, and with it every later update.
void setNetworkTransferTimeout(int milliseconds);

// The window in which an http or https transfer must receive at least 1024 bytes a
// second: a server that sends a byte just often enough to keep the timeout from
// running out must not hold the run either.
void setTransferRateWindow(int milliseconds);

#endif
