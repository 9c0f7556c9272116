#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include "app/updaterapp.h"

#include <cstdio>
#include <cstdlib>

// A broken law counts like a crash: aborting makes libFuzzer keep the input.
inline void expect(bool holds, const char *law, const QString &input = QString())
{
    if (holds)
        return;
    std::fprintf(stderr, "LAW BROKEN: %s\n  input: %s\n", law, input.toUtf8().constData());
    std::abort();
}

// The application object, built once as main builds it; it takes the instance lock in
// TMPDIR, so every fuzzer process needs a TMPDIR of its own. Log lines at fuzzing speed
// would bury libFuzzer's own output, so they are dropped.
inline UpdaterApp &fuzzedApp()
{
    static int argc = 1;
    static char name[] = "software-updater";
    static char *argv[] = {name, nullptr};
    static UpdaterApp *app = new UpdaterApp(argc, argv);
    static const bool quiet = (qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {}), true);
    Q_UNUSED(quiet)
    return *app;
}

#endif
