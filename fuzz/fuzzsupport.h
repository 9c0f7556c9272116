#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include "app/updaterapp.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// The code under test logs each decision; at fuzzing speed those lines would bury
// libFuzzer's own output.
inline void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

inline void dropMessages()
{
    qInstallMessageHandler(dropMessage);
}

// A broken law counts like a crash: aborting makes libFuzzer keep the input.
inline void expect(bool holds, const char *law, const QString &input = QString())
{
    if (holds)
        return;
    std::fprintf(stderr, "LAW BROKEN: %s\n", law);
    if (!input.isNull())
        std::fprintf(stderr, "  input: %s\n", input.toUtf8().constData());
    std::abort();
}

// The texts one input stands for: its bytes read as UTF-8, as files and the command
// line give text, and taken as UTF-16 code units unchanged, which reaches every
// QString, lone surrogates included (a JSON "\udc00" makes one).
inline QStringList textsOf(const uint8_t *data, size_t size)
{
    QString utf16(int(size / 2), Qt::Uninitialized);
    if (!utf16.isEmpty())
        std::memcpy(utf16.data(), data, size_t(utf16.size()) * sizeof(QChar));
    return {QString::fromUtf8(reinterpret_cast<const char *>(data), int(size)), utf16};
}

// The application object that the member functions under test need, built once per
// process as main builds it. It takes the instance lock in TMPDIR, so every fuzzer
// process needs a TMPDIR of its own.
inline UpdaterApp &fuzzedApp()
{
    static int argc = 1;
    static char name[] = "software-updater";
    static char *argv[] = {name, nullptr};
    static UpdaterApp *app = new UpdaterApp(argc, argv);
    return *app;
}

#endif
