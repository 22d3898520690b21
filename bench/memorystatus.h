#ifndef MEMORYSTATUS_H
#define MEMORYSTATUS_H

// The process's own memory figures, as Linux reports them in /proc/self.
namespace MemoryStatus {

// A field of /proc/self/status in kilobytes ("VmRSS:", "VmHWM:"); -1 if it
// cannot be read.
long kb(const char *field);

// Starts the peak resident size (VmHWM) again from the current size.
void resetPeak();

} // namespace MemoryStatus

#endif // MEMORYSTATUS_H
