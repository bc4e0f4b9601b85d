// The shell verb: a context-menu entry under HKEY_CLASSES_ROOT for one class of files ("*" for
// all), named after the program, that runs the program on the clicked file.
#pragma once

#include <QString>

// Whether the verb key "<class>\shell\<verb>" exists; false when either name is empty.
[[nodiscard]] bool IsShellVerbRegistered(const QString& className, const QString& verb);
// Writes the verb key (caption, icon) and its command key; each step that cannot open its key is
// skipped without a word. Nothing when any argument is empty.
void RegisterShellVerb(const QString& className, const QString& verb, const QString& path);
// Deletes the verb key with everything below it, deepest first. Nothing when either name is empty.
void UnregisterShellVerb(const QString& className, const QString& verb);
