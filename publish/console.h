#ifndef CONSOLE_H
#define CONSOLE_H

#include <QString>

// One line for the person or script that runs the tool: results on standard output,
// refusals and failures on standard error.
void printResult(const QString &line);
void printProblem(const QString &line);

#endif
