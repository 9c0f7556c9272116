#ifndef NETWORKTRANSFER_H
#define NETWORKTRANSFER_H

// How long an http or https transfer may go without receiving a byte before it fails.
// A stalled server must not hold the instance lock, and with it every later update.
void setNetworkTransferTimeout(int milliseconds);

#endif
