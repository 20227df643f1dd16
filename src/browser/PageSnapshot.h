#pragma once

// A window of a live page whose reads are answered from one snapshot of its
// frame, taken in the page in one call (extension/answerer.js, "snapshot"),
// instead of one round trip into the page per read.
//
// The snapshot holds the answers the page gives to the reads the program's
// readers make (the link list, the download list, the writing of the page
// and its frames), failures included; a read or call it does not hold, and
// every write, goes to the page as before, on the live object reached by
// the same steps. A window of another frame (an item of frames, a parent)
// is asked of the page and then read from a snapshot of its own frame.
//
// The snapshot is taken at the first read (the page as it is when the save
// begins to read it), and again after Retake. A page side that cannot take
// one (an older extension) leaves every read to the page.

#include "browser/Variant.h"

#include <functional>
#include <optional>
#include <string>

namespace larkspool {

// Takes the snapshot of the frame of the live window: its JSON text, or
// nothing when the page cannot give one.
using SnapshotTaker = std::function<std::optional<std::string>(const DispatchPtr& LiveWindow)>;

// The taker of the bridges to a real browser: the "snapshot" operation of a
// LivePageObject, nothing for any other object or a failure.
std::optional<std::string> TakeLiveSnapshot(const DispatchPtr& LiveWindow);

// LiveWindow answered from snapshots taken by Take.
Variant SnapshotWindow(const Variant& LiveWindow, SnapshotTaker Take = TakeLiveSnapshot);

// The live object an object of a snapshot stands for (reached in the page
// when it was not yet); any other object as it is.
DispatchPtr LiveObjectOf(const DispatchPtr& Object);

// Has a window of SnapshotWindow take a new snapshot at its next read (the
// page was changed on purpose); objects read before keep their answers.
void RetakeSnapshot(const DispatchPtr& Window);

} // namespace larkspool
