#ifndef SRF_TOOL_PROGRESS_H
#define SRF_TOOL_PROGRESS_H

#include <atomic>
#include <mutex>
#include <string>

// A progress bar on the standard error stream, drawn only when that stream
// is a terminal, so that logs and pipes stay clean. Any thread may report
// finished work; the bar is redrawn at most once per percent.
class SrfProgress
{
public:
    // wanted: false keeps the bar off even on a terminal.
    SrfProgress(const std::string &label, long total, bool wanted = true);
    ~SrfProgress();

    void advance(long amount = 1);
    // Clears the bar's line; called by the destructor too.
    void finish();

    bool isShown() const { return myShown; }

private:
    void draw(long done);

    std::string myLabel;
    long myTotal;
    bool myShown;
    bool myFinished = false;
    std::atomic<long> myDone{0};
    int myLastPercent = -1;
    std::mutex myLock;
};

#endif
