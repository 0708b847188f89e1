#pragma once

#include <QByteArray>

// What a worker process asks of the system: limits that keep one hostile
// file from taking the machine, and its pipes to the run.

// No core files, every descriptor the system allows (each written output
// holds one until the run puts it in place), and a cap on address space.
void LimitWorkerResources();

// Whether standard input is a terminal: a worker run by hand.
bool InputIsTerminal();

// A descriptor of its own for the answers, with standard output sent to
// standard error, so that what a library prints never lands in an answer;
// -1 when that cannot be had.
int TakeAnswerChannel();

// False at the end of input or on a read error, and when it ends part-way;
// `ended` tells a clean end before the first byte.
bool ReadExactly(int fd, char *data, qsizetype size, bool *ended = nullptr);

// Whether `fd` has bytes to read now (or its end), without waiting.
bool InputWaiting(int fd);

// Sends all of `bytes`; false when the other end is gone.
bool WriteAll(int fd, const QByteArray &bytes);
