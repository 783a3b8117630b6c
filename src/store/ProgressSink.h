#pragma once

namespace kelvo {

// What the load and the save report while they work. The progress window
// implements it; the default does nothing, for work without any window.
// Keeping the windows painted meanwhile is the MessagePump's part.
class ProgressSink
{
public:
    virtual ~ProgressSink() = default;

    // Save: once, before the first node; n is the count of the tree.
    virtual void ShowSaveProgress(int n) { (void)n; }
    // Save: before writing each node.
    virtual void RefreshProgress() {}
    // Save: after writing each node.
    virtual void StepProgress() {}
    // Load: once, after the top-level count has been read.
    virtual void ShowLoadProgress() {}
    // Save: at its end whatever happened. Load: at the end of a load that
    // read an existing file without failure.
    virtual void CloseProgress() {}
};

// A shared sink that does nothing.
ProgressSink &NoProgress();

} // namespace kelvo
