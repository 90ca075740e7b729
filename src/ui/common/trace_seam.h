// How a window reaches the Trace window without including it: the Trace window is a view of the
// communication master and is owned by start-up, so windows get this seam instead.
#pragma once

namespace tessel {

class TraceSeam {
 public:
  virtual ~TraceSeam() = default;

  // True once the Trace window has been created (it normally exists from start-up on).
  virtual bool TraceExists() const = 0;
  // Creates the Trace window if needed, makes it visible and brings it to the front, not modal.
  virtual void ShowTrace() = 0;
  // Hides the Trace window; it stays alive and keeps counting.
  //
  // Hiding the Trace window in any way, by its own close button or through this call, must put
  // the send mode back to "Auto": a window nobody can see must never leave automatic polling
  // paused. The implementer of the seam does that; callers only ask to hide.
  virtual void HideTrace() = 0;
};

}  // namespace tessel
