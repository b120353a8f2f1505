#pragma once

#include <QString>

namespace sorel {

// Gives the label with this object name the notification role, which screen readers (Orca)
// speak as soon as it shows. Call before the label is made; the label must get its object name
// before its text, since its accessible interface is made, and kept, on its first change.
void AnnounceLabelWhenShown(const QString& object_name);

// With a screen reader running, serves its questions about what the window just showed, with
// user input held back, until it has asked nothing for 250 ms (2 s at most): the thread is
// about to block and the reader would otherwise give up on what changed. Returns at once
// without one.
void LetScreenReaderCatchUp();

// Deactivates the active window before a message box opens. Qt activates a new window before
// it deactivates the old one, so a screen reader takes the old window's deactivation for stale
// and goes on saying what it queued about that window (the progress label, say) before it reads
// the box; deactivated first, the reader cuts that off and reads the box at once.
void LeaveWindowForBox();

}  // namespace sorel
