#include "SrfProgress.h"

#include <cstdio>
#include <unistd.h>

namespace
{
const int BAR_WIDTH = 40;
}

SrfProgress::SrfProgress(const std::string &label, long total, bool wanted)
    : myLabel(label), myTotal(total > 0 ? total : 1), myShown(wanted && isatty(STDERR_FILENO) != 0)
{
    if (myShown)
        draw(0);
}

SrfProgress::~SrfProgress() { finish(); }

void SrfProgress::advance(long amount)
{
    const long done = myDone.fetch_add(amount) + amount;
    if (myShown)
        draw(done);
}

void SrfProgress::draw(long done)
{
    const int percent = int(100 * (done < myTotal ? done : myTotal) / myTotal);
    std::lock_guard<std::mutex> hold(myLock);
    if (percent <= myLastPercent || myFinished)
        return;
    myLastPercent = percent;
    const int filled = percent * BAR_WIDTH / 100;
    char bar[BAR_WIDTH + 1];
    for (int i = 0; i < BAR_WIDTH; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[BAR_WIDTH] = '\0';
    fprintf(stderr, "\r%s [%s] %3d%%", myLabel.c_str(), bar, percent);
    fflush(stderr);
}

void SrfProgress::finish()
{
    std::lock_guard<std::mutex> hold(myLock);
    if (!myShown || myFinished)
        return;
    myFinished = true;
    // Erase the bar so that the next message starts on a clean line.
    fprintf(stderr, "\r%*s\r", int(myLabel.size()) + BAR_WIDTH + 10, "");
    fflush(stderr);
}
