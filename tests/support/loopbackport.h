#ifndef LOOPBACKPORT_H
#define LOOPBACKPORT_H

#include <QtGlobal>

// A port on 127.0.0.1 that nothing listens on right now, or 0.
quint16 freeLoopbackPort();
// Whether something accepts connections on 127.0.0.1 at port.
bool acceptsConnections(quint16 port);

#endif
