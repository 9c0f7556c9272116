#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include "app/updaterapp.h"

#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// A broken law counts like a crash: aborting makes libFuzzer keep the input.
inline void expect(bool holds, const char *law, const QString &input = QString())
{
    if (holds)
        return;
    std::fprintf(stderr, "LAW BROKEN: %s\n  input: %s\n", law, input.toUtf8().constData());
    std::abort();
}

// The application object that the member functions under test need, built once per
// process as main builds it. It takes the instance lock in TMPDIR, so every fuzzer
// process needs a TMPDIR of its own. The code under test logs each decision; at fuzzing
// speed those lines would bury libFuzzer's own output, so they are dropped from then on.
inline UpdaterApp &fuzzedApp()
{
    static int argc = 1;
    static char name[] = "software-updater";
    static char *argv[] = {name, nullptr};
    static UpdaterApp *app = new UpdaterApp(argc, argv);
    static const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    Q_UNUSED(previous)
    return *app;
}

#endif
