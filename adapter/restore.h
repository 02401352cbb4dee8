#ifndef RESTORE_H
#define RESTORE_H

#include "adapter/adapternote.h"

#include <QString>

class NetworkAdapters;

// What came of giving an adapter back its noted settings.
struct RestoreOutcome
{
    enum Kind {
        Due, // the adapter holds 192.168.0.92 still: its settings are to be given back
        Restored, // the adapter has its earlier settings; the note is gone
        NothingToDo, // no note, or nothing left to give back
        LeftAlone, // the adapter no longer holds 192.168.0.92: changed since, by someone else; the note is gone
        Failed, // it still holds 192.168.0.92; the note stays
        Unusable, // the note cannot be read or names no adapter here; it stays
    };
    Kind kind = NothingToDo;
    QString text; // one line for the operator
};

// Whether there is something to give back (Due, and *note is the note), or
// why not.
RestoreOutcome restoreNeeded(NetworkAdapters *adapters, const QString &notePath, AdapterNote *note);
// Gives the adapter its noted settings back, looks at the adapters afresh and
// says what came of it.
RestoreOutcome restoreAdapter(NetworkAdapters *adapters, const QString &notePath, const AdapterNote &note,
                              int timeoutMs);

#endif // RESTORE_H
