#pragma once

#include <QByteArray>
#include <QString>

class SettingsStore;

// What the window remembers from one session to the next. Paths are kept as
// chosen; whether they still exist is for the window to decide at start.
struct LastChoices {
    QString imageFolder;
    QString dataFile;
    QString encoding; // an EncodingChoice name
    QString scheme;   // by name: the store's numbering changes as schemes are deleted
    QString saveFolder;
    bool appendFileName = false;
    QString appendText;
    bool reencode = false;
    bool skipExisting = false;
    QByteArray windowGeometry;
    bool checkOnlyProblems = false;
};

// The per-user file of last choices, beside the scheme store and apart from
// it, so that remembering never rewrites the schemes or their backup.
QString LastChoicesLocation();

// Overwrites the members of `choices` that the store holds; the rest keep their value.
void LoadLastChoices(const SettingsStore &store, LastChoices &choices);

// Writes every member; false when the store could not be written.
bool SaveLastChoices(const LastChoices &choices, SettingsStore &store);
