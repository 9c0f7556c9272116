#include "publish/console.h"

#include <cstdio>

namespace {
void printLine(std::FILE *stream, const QString &line)
{
    std::fputs(line.toLocal8Bit().append('\n').constData(), stream);
    std::fflush(stream);
}
}

void printResult(const QString &line)
{
    printLine(stdout, line);
}

void printProblem(const QString &line)
{
    printLine(stderr, line);
}
