// checkedtext: line-oriented text files through a handle the caller owns, each routine
// reporting its failure through its result, errorcount and a "FEIL" box instead of throwing.
#pragma once

#include "platform.h"

#include <QString>

enum class TextFileState { Closed, Reading, Writing };

// The caller owns the handle (as a rule a local variable) and passes it to every routine.
struct textfile {
    // Large enough that a code list of 100,000 lines is read in a few hundred calls, not in
    // tens of thousands.
    static constexpr int BufferSize = 16384;
    static constexpr int MaxName = 259;

    QString name;
    TextFileState state = TextFileState::Closed;
    platform::FileHandle handle = platform::NoFile;
    char buffer[BufferSize] = {};
    int bufpos = 0; // next byte to read, or bytes collected for writing
    int bufend = 0; // bytes available for reading

    textfile() = default;
    textfile(const textfile &) = delete;
    textfile &operator=(const textfile &) = delete;
    // A handle left open by its owner is closed quietly, so the descriptor never leaks.
    ~textfile();
};

// The handle's own numbers.
enum : int { ErrNotOpen = 103, ErrNotOpenForInput = 104, ErrNotOpenForOutput = 105 };

int resetsafe(textfile &f, const QString &name);
int appendsafe(textfile &f, const QString &name);
int rewritesafe(textfile &f, const QString &name);
int writelnsafe(textfile &f, const QString &text);
void readlnsafe(textfile &f, QString &line);
int closesafe(textfile &f);
// Writes out buffered output and closes, reporting only through the result (no box, no count).
int closetextfile(textfile &f);
int appendline(const QString &name, const QString &text);
// True when no byte is left or the next one is Ctrl-Z; true (with 104) on a handle not open
// for reading.
bool eoftextfile(textfile &f);
// The error number of the last eoftextfile, cleared by reading it.
int eoftextfileerror();
