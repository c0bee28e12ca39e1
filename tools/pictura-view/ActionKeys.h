// The keys of an action: a key of the viewer's own and the platform's standard keys, each once.
#pragma once

#include <QKeySequence>
#include <QList>

// Key and then the platform's keys for Standard, each once: a key given twice to one action makes its
// shortcut ambiguous, and pressing it then does nothing (Ctrl+- is the standard zoom out on Linux).
inline QList<QKeySequence> KeysOnce(const QKeySequence& Key, QKeySequence::StandardKey Standard) {
    QList<QKeySequence> keys{Key};
    for (const QKeySequence& key : QKeySequence::keyBindings(Standard))
        if (!keys.contains(key)) keys << key;
    return keys;
}
